#include "TerminalSender.h"

#include <system_error>

#include "CommandTexts.h"

namespace pelmora {

TerminalSender::TerminalSender(LinkApi link, LogLine log)
    : link_(std::move(link)), log_(std::move(log)) {}

TerminalSender::~TerminalSender() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    // No thread is added once stopping_ is set, so the list stays as it is.
    for (auto& thread : threads_) thread.join();
}

bool TerminalSender::StartThreadsLocked() {
    if (!threads_.empty()) return true;
    try {
        for (std::size_t i = 0; i < kThreads; ++i) threads_.emplace_back([this] { Run(); });
    } catch (const std::system_error&) {
        // Fewer threads still send; none at all cannot.
        return !threads_.empty();
    }
    return true;
}

void TerminalSender::GrowLocked() {
    if (ready_.size() <= idle_ || threads_.size() >= kMaxThreads) return;
    try {
        threads_.emplace_back([this] { Run(); });
    } catch (const std::system_error&) {
        // The threads there are still send.
    }
}

bool TerminalSender::Post(std::uint32_t deviceId, std::vector<std::uint8_t> bytes,
                          std::string what) {
    return Queue(deviceId, Message{std::move(bytes), std::move(what), nullptr, nullptr});
}

bool TerminalSender::PostDeferred(std::uint32_t deviceId, MakeBytes make, Done done) {
    if (!make) return false;
    return Queue(deviceId, Message{{}, {}, std::move(make), std::move(done)});
}

bool TerminalSender::Queue(std::uint32_t deviceId, Message message) {
    const bool reported = static_cast<bool>(message.make);
    std::string line;
    bool queued = false;
    {
        std::lock_guard guard(lock_);
        if (stopping_) return false;
        Terminal& terminal = terminals_[deviceId];
        if (!StartThreadsLocked()) {
            if (!reported)
                line = WithText(text::kSendNoThread, DeviceIdText(deviceId)) + message.what;
        } else if (terminal.queue.size() >= kPerTerminalLimit || pending_ >= kTotalLimit) {
            const bool full = pending_ >= kTotalLimit;
            bool& logged = full ? fullLogged_ : terminal.overflowLogged;
            if (!logged && !reported) {
                logged = true;
                line = WithText(text::kSendBacklog, DeviceIdText(deviceId)) + message.what;
            }
        } else {
            terminal.queue.push_back(std::move(message));
            ++pending_;
            if (!terminal.sending && terminal.queue.size() == 1) ready_.push_back(deviceId);
            queued = true;
            GrowLocked();
        }
        if (terminal.queue.empty() && !terminal.sending) terminals_.erase(deviceId);
    }
    if (queued) wake_.notify_one();
    if (!line.empty() && log_) log_(std::move(line));
    return queued;
}

bool TerminalSender::WriteNow(std::uint32_t deviceId, MakeBytes make, Done done) {
    if (!make) return false;
    {
        std::lock_guard guard(lock_);
        if (stopping_) return false;
        const auto it = terminals_.find(deviceId);
        if (it != terminals_.end()) {
            // Behind what is queued for the terminal: its order holds.
            Terminal& terminal = it->second;
            if (terminal.queue.size() >= kPerTerminalLimit || pending_ >= kTotalLimit ||
                !StartThreadsLocked())
                return false;
            terminal.queue.push_back(Message{{}, {}, std::move(make), std::move(done)});
            ++pending_;
            GrowLocked();
            return true;
        }
        // The terminal is this caller's until the write ends.
        terminals_[deviceId].sending = true;
        ++pending_;
    }
    std::vector<std::uint8_t> bytes = make();
    const bool sent =
        !bytes.empty() && link_.sendData &&
        link_.sendData(deviceId, static_cast<std::uint16_t>(bytes.size()), bytes.data()) == 1;
    if (done) done(sent);
    bool more = false;
    {
        std::lock_guard guard(lock_);
        Terminal& terminal = terminals_[deviceId];
        terminal.sending = false;
        if (terminal.queue.empty()) {
            terminals_.erase(deviceId);
        } else {
            ready_.push_back(deviceId);  // queued meanwhile: the threads go on
            more = true;
        }
        if (--pending_ == 0) {
            fullLogged_ = false;
            drained_.notify_all();
        }
    }
    if (more) wake_.notify_one();
    return true;
}

std::size_t TerminalSender::Pending() const {
    std::lock_guard guard(lock_);
    return pending_;
}

bool TerminalSender::Flush(std::chrono::milliseconds limit) {
    std::unique_lock lock(lock_);
    return drained_.wait_for(lock, limit, [this] { return pending_ == 0; });
}

void TerminalSender::Run() {
    std::unique_lock lock(lock_);
    for (;;) {
        ++idle_;
        wake_.wait(lock, [this] { return stopping_ || !ready_.empty(); });
        --idle_;
        if (stopping_) return;
        const std::uint32_t deviceId = ready_.front();
        ready_.pop_front();
        Terminal* terminal = &terminals_[deviceId];
        terminal->sending = true;
        Message message = std::move(terminal->queue.front());
        terminal->queue.erase(terminal->queue.begin());

        lock.unlock();
        if (message.make) message.bytes = message.make();
        const bool skipped = message.make && message.bytes.empty();
        const bool sent = !skipped && link_.sendData &&
                          link_.sendData(deviceId, static_cast<std::uint16_t>(message.bytes.size()),
                                         message.bytes.data()) == 1;
        if (message.done) message.done(sent);
        lock.lock();

        // The map may have rehashed meanwhile; the entry itself stayed.
        terminal = &terminals_[deviceId];
        terminal->sending = false;
        // Counted as pending until their outcome is reported, so a flush
        // returns only after the failure line below.
        std::size_t finished = 1;
        std::string line;
        std::vector<Message> dropped;
        if (!sent && !skipped) {
            // The rest would meet the same socket: one line for all of it.
            dropped.swap(terminal->queue);
            finished += dropped.size();
            if (!message.make) {
                line = WithText(text::kSendFailed, DeviceIdText(deviceId)) + message.what;
                if (!dropped.empty())
                    line += WithText(text::kSendDropped, std::to_string(dropped.size()));
            }
        }
        if (terminal->queue.empty()) {
            terminals_.erase(deviceId);
        } else {
            ready_.push_back(deviceId);  // behind the others: one message per turn
            wake_.notify_one();
        }
        if (!dropped.empty() || (!line.empty() && log_)) {
            lock.unlock();
            for (Message& gone : dropped) {
                if (gone.done) gone.done(false);
            }
            if (!line.empty() && log_) log_(std::move(line));
            lock.lock();
        }
        pending_ -= finished;
        if (pending_ == 0) {
            fullLogged_ = false;
            drained_.notify_all();
        }
    }
}

}  // namespace pelmora
