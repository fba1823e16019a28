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

bool TerminalSender::Post(std::uint32_t deviceId, std::vector<std::uint8_t> bytes,
                          std::string what) {
    std::string line;
    bool queued = false;
    {
        std::lock_guard guard(lock_);
        if (stopping_) return false;
        Terminal& terminal = terminals_[deviceId];
        if (!StartThreadsLocked()) {
            line = WithText(text::kSendNoThread, DeviceIdText(deviceId)) + what;
        } else if (terminal.queue.size() >= kPerTerminalLimit || pending_ >= kTotalLimit) {
            const bool full = pending_ >= kTotalLimit;
            bool& logged = full ? fullLogged_ : terminal.overflowLogged;
            if (!logged) {
                logged = true;
                line = WithText(text::kSendBacklog, DeviceIdText(deviceId)) + what;
            }
        } else {
            terminal.queue.push_back(Message{std::move(bytes), std::move(what)});
            ++pending_;
            if (!terminal.sending && terminal.queue.size() == 1) ready_.push_back(deviceId);
            queued = true;
        }
        if (terminal.queue.empty() && !terminal.sending) terminals_.erase(deviceId);
    }
    if (queued) wake_.notify_one();
    if (!line.empty() && log_) log_(std::move(line));
    return queued;
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
        wake_.wait(lock, [this] { return stopping_ || !ready_.empty(); });
        if (stopping_) return;
        const std::uint32_t deviceId = ready_.front();
        ready_.pop_front();
        Terminal* terminal = &terminals_[deviceId];
        terminal->sending = true;
        Message message = std::move(terminal->queue.front());
        terminal->queue.pop_front();

        lock.unlock();
        const bool sent = link_.sendData &&
                          link_.sendData(deviceId, static_cast<std::uint16_t>(message.bytes.size()),
                                         message.bytes.data()) == 1;
        lock.lock();

        // The map may have rehashed meanwhile; the entry itself stayed.
        terminal = &terminals_[deviceId];
        terminal->sending = false;
        --pending_;
        std::string line;
        if (!sent) {
            // The rest would meet the same socket: one line for all of it.
            const std::size_t dropped = terminal->queue.size();
            pending_ -= dropped;
            terminal->queue.clear();
            line = WithText(text::kSendFailed, DeviceIdText(deviceId)) + message.what;
            if (dropped > 0) line += WithText(text::kSendDropped, std::to_string(dropped));
        }
        if (terminal->queue.empty()) {
            terminals_.erase(deviceId);
        } else {
            ready_.push_back(deviceId);  // behind the others: one message per turn
            wake_.notify_one();
        }
        if (!line.empty() && log_) {
            lock.unlock();
            log_(std::move(line));
            lock.lock();
        }
        if (pending_ == 0) {
            fullLogged_ = false;
            drained_.notify_all();
        }
    }
}

}  // namespace pelmora
