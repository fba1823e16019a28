#include "TerminalSimulator.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <optional>
#include <utility>

#include <asio/connect.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <asio/write.hpp>

#include "LinkProtocol.h"

namespace dovrik::sim {

using asio::ip::tcp;

std::vector<std::uint8_t> RegistrationMessage(const TerminalSpec& setup) {
    std::vector<std::uint8_t> message(kRegistrationMinLength, 0);
    for (int i = 0; i < 4; ++i) message[i] = static_cast<std::uint8_t>(setup.deviceId >> (8 * i));
    for (std::size_t i = 0; i < 11; ++i) {
        message[4 + i] =
            static_cast<std::uint8_t>(i < setup.simNumber.size() ? setup.simNumber[i] : '0');
    }
    message[15] = 0;
    for (std::size_t i = 0; i < 4; ++i) message[16 + i] = setup.address[i];
    return message;
}

std::vector<std::uint8_t> StatusMessage(std::uint32_t deviceId, PowerSource power) {
    std::vector<std::uint8_t> frame = {
        0x02,
        0x11,
        0x01,
        0x00,
        0x0C,
        static_cast<std::uint8_t>(deviceId >> 24),
        static_cast<std::uint8_t>(deviceId >> 16),
        static_cast<std::uint8_t>(deviceId >> 8),
        static_cast<std::uint8_t>(deviceId),
        0x02,
        0x02,  // command: the terminal's status
        0x00,
        0x00,  // option length
        0x00,
        0x02,  // payload length
        static_cast<std::uint8_t>(power == PowerSource::Battery ? 1 : 0),
        0x00,
        0x00,  // checksum, below
        0x03};
    unsigned sum = 0;
    for (std::size_t i = 1; i <= 16; ++i) sum += frame[i];
    frame[17] = static_cast<std::uint8_t>(sum);
    return frame;
}

std::vector<std::uint8_t> EscapeStream(const std::vector<std::uint8_t>& plain) {
    std::vector<std::uint8_t> wire;
    wire.reserve(plain.size() + plain.size() / 8);
    for (std::uint8_t b : plain) {
        if (b == 0xFD || b == 0xFE) {
            wire.push_back(0xFD);
            wire.push_back(b == 0xFD ? 0xED : 0xEE);
        } else {
            wire.push_back(b);
        }
    }
    return wire;
}

struct TerminalSimulator::Terminal {
    Terminal(asio::io_context& io, std::size_t readChunk)
        : strand(asio::make_strand(io)),
          socket(strand),
          timer(strand),
          actionTimer(strand),
          chunk(readChunk) {}

    std::size_t index = 0;
    TerminalSpec setup;
    std::optional<std::vector<std::uint8_t>> firstMessage;  // none: a silent peer

    // Touched only on the strand.
    asio::strand<asio::io_context::executor_type> strand;
    tcp::socket socket;
    asio::steady_timer timer;
    asio::steady_timer actionTimer;  // the wait before an answer, or before reconnecting
    std::deque<std::vector<std::uint8_t>> outgoing;
    bool connected = false;
    bool writing = false;
    bool registering = false;
    std::vector<std::uint8_t> chunk;
    std::deque<TerminalAction> actions;
    bool acting = false;               // an action waits for its delay or for the writes
    std::function<void()> afterDrain;  // runs once everything queued is written
    bool stopped = false;              // closed for good: a restart does not reconnect
    bool readingStopped = false;       // no read is started any more
    // Counts the connections, so that completions of an earlier one are ignored.
    std::uint64_t generation = 0;

    mutable std::mutex lock;
    std::vector<std::uint8_t> received;               // guarded by lock, raw wire bytes
    TerminalState state = TerminalState::Connecting;  // guarded by lock
    std::size_t registrations = 0;                    // guarded by lock
    std::shared_ptr<StatefulTerminal> stateful;       // guarded by lock; none: only records
};

struct TerminalSimulator::Impl {
    explicit Impl(Options o)
        : options(std::move(o)),
          work(io.get_executor()),
          endpoint(ResolveOnce(io, options.host, options.port)) {}

    static tcp::endpoint ResolveOnce(asio::io_context& io, const std::string& host,
                                     std::uint16_t port) {
        asio::error_code error;
        const auto address = asio::ip::make_address(host, error);
        if (!error) return {address, port};
        tcp::resolver resolver(io);
        const auto results = resolver.resolve(tcp::v4(), host, std::to_string(port), error);
        if (error || results.empty()) return {asio::ip::address_v4::loopback(), port};
        return *results.begin();
    }

    Options options;
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work;
    std::vector<std::thread> threads;
    tcp::endpoint endpoint;
    ReceiveHandler onReceive;
    StateHandler onState;

    mutable std::mutex lock;
    std::deque<std::unique_ptr<Terminal>> terminals;  // guarded by lock; never shrinks
};

TerminalSimulator::TerminalSimulator(Options options)
    : impl_(std::make_unique<Impl>(std::move(options))) {
    const int threads = impl_->options.threads > 0 ? impl_->options.threads : 1;
    for (int i = 0; i < threads; ++i) impl_->threads.emplace_back([this] { impl_->io.run(); });
}

TerminalSimulator::~TerminalSimulator() {
    {
        std::lock_guard guard(impl_->lock);
        for (auto& t : impl_->terminals) {
            asio::post(t->strand, [this, terminal = t.get()] {
                Stop(*terminal);
                asio::error_code ignored;
                terminal->socket.close(ignored);
            });
        }
    }
    impl_->work.reset();
    for (auto& thread : impl_->threads) thread.join();
}

void TerminalSimulator::SetReceiveHandler(ReceiveHandler handler) {
    impl_->onReceive = std::move(handler);
}

void TerminalSimulator::SetStateHandler(StateHandler handler) {
    impl_->onState = std::move(handler);
}

std::size_t TerminalSimulator::Add(const TerminalSpec& setup) {
    return AddTerminal(setup, RegistrationMessage(setup));
}

std::size_t TerminalSimulator::AddWithFirstMessage(const TerminalSpec& setup,
                                                   std::vector<std::uint8_t> firstMessage) {
    return AddTerminal(setup, std::move(firstMessage));
}

std::size_t TerminalSimulator::AddSilent() {
    return AddTerminal({}, std::nullopt);
}

std::size_t TerminalSimulator::Count() const {
    std::lock_guard guard(impl_->lock);
    return impl_->terminals.size();
}

TerminalSimulator::Terminal& TerminalSimulator::At(std::size_t index) const {
    std::lock_guard guard(impl_->lock);
    return *impl_->terminals.at(index);
}

std::size_t TerminalSimulator::AddTerminal(const TerminalSpec& setup,
                                           std::optional<std::vector<std::uint8_t>> firstMessage,
                                           bool deaf) {
    auto terminal = std::make_unique<Terminal>(impl_->io, impl_->options.readChunk);
    Terminal* t = terminal.get();
    t->setup = setup;
    t->firstMessage = std::move(firstMessage);
    t->readingStopped = deaf;  // before it connects, so that it never reads at all
    {
        std::lock_guard guard(impl_->lock);
        t->index = impl_->terminals.size();
        impl_->terminals.push_back(std::move(terminal));
    }
    asio::post(t->strand, [this, t] { Connect(*t); });
    return t->index;
}

void TerminalSimulator::Connect(Terminal& t) {
    t.socket.async_connect(impl_->endpoint,
                           [this, &t, generation = t.generation](const asio::error_code& error) {
                               if (generation != t.generation) return;
                               if (error) {
                                   SetState(t, TerminalState::Failed);
                                   return;
                               }
                               asio::error_code ignored;
                               t.socket.set_option(tcp::no_delay(true), ignored);
                               t.connected = true;
                               if (t.firstMessage) {
                                   t.outgoing.push_front(std::move(*t.firstMessage));
                                   t.registering = true;
                               }
                               WriteNext(t);
                               StartRead(t);
                               StartHeartbeat(t);
                           });
}

void TerminalSimulator::Queue(Terminal& t, std::vector<std::uint8_t> bytes) {
    t.outgoing.push_back(std::move(bytes));
    if (t.connected && !t.writing) WriteNext(t);
}

void TerminalSimulator::WriteNext(Terminal& t) {
    if (t.outgoing.empty() || !t.socket.is_open()) {
        t.writing = false;
        if (t.afterDrain) std::exchange(t.afterDrain, nullptr)();
        return;
    }
    t.writing = true;
    asio::async_write(
        t.socket, asio::buffer(t.outgoing.front()),
        [this, &t, generation = t.generation](const asio::error_code& error, std::size_t written) {
            if (generation != t.generation) return;
            totalSent_ += written;
            t.outgoing.pop_front();
            if (t.registering && !error) {
                t.registering = false;
                SetState(t, TerminalState::Registered);
                std::lock_guard guard(t.lock);
                if (t.registrations++ == 0) ++registered_;
            }
            if (error) t.outgoing.clear();
            WriteNext(t);
        });
}

void TerminalSimulator::StartRead(Terminal& t) {
    if (t.readingStopped) return;
    t.socket.async_read_some(
        asio::buffer(t.chunk),
        [this, &t, generation = t.generation](const asio::error_code& error, std::size_t count) {
            if (generation != t.generation) return;
            if (count > 0) {
                std::shared_ptr<StatefulTerminal> stateful;
                {
                    std::lock_guard guard(t.lock);
                    t.received.insert(t.received.end(), t.chunk.begin(),
                                      t.chunk.begin() + static_cast<long>(count));
                    stateful = t.stateful;
                }
                totalReceived_ += count;
                if (impl_->onReceive) impl_->onReceive(t.index, t.chunk.data(), count);
                if (stateful) {
                    for (auto& action : stateful->Receive(t.chunk.data(), count)) {
                        t.actions.push_back(std::move(action));
                    }
                    RunActions(t);
                }
            }
            if (error) {
                asio::error_code ignored;
                t.timer.cancel();
                t.socket.close(ignored);
                SetState(t, TerminalState::Closed);
                return;
            }
            StartRead(t);
        });
}

void TerminalSimulator::StartHeartbeat(Terminal& t) {
    if (t.setup.heartbeat.count() <= 0) return;
    t.timer.expires_after(t.setup.heartbeat);
    t.timer.async_wait([this, &t, generation = t.generation](const asio::error_code& error) {
        if (error || generation != t.generation || !t.socket.is_open()) return;
        Queue(t, {kHeartbeatByte});
        StartHeartbeat(t);
    });
}

void TerminalSimulator::SetState(Terminal& t, TerminalState next) {
    {
        std::lock_guard guard(t.lock);
        if (t.state == TerminalState::Closed || t.state == TerminalState::Failed) return;
        t.state = next;
    }
    if (impl_->onState && (next == TerminalState::Closed || next == TerminalState::Failed)) {
        impl_->onState(t.index, next);
    }
}

void TerminalSimulator::RunActions(Terminal& t) {
    while (!t.acting && !t.actions.empty()) {
        TerminalAction& next = t.actions.front();
        if (next.delay.count() > 0) {
            t.acting = true;
            t.actionTimer.expires_after(next.delay);
            next.delay = {};
            t.actionTimer.async_wait(
                [this, &t, generation = t.generation](const asio::error_code& error) {
                    if (generation != t.generation) return;
                    t.acting = false;
                    if (!error) RunActions(t);
                });
            return;
        }
        TerminalAction action = std::move(next);
        t.actions.pop_front();
        Perform(t, std::move(action));
    }
}

void TerminalSimulator::Perform(Terminal& t, TerminalAction action) {
    if (action.kind == TerminalAction::Kind::Write) {
        Queue(t, EscapeStream(action.bytes));
        return;
    }
    // The answer to the restart request goes out before the connection ends.
    if (t.writing || (!t.outgoing.empty() && t.socket.is_open())) {
        t.acting = true;
        t.afterDrain = [this, &t, offline = action.reconnectAfter] { Restart(t, offline); };
        return;
    }
    Restart(t, action.reconnectAfter);
}

void TerminalSimulator::Restart(Terminal& t, std::chrono::milliseconds offline) {
    ++t.generation;
    asio::error_code ignored;
    t.timer.cancel();
    t.actionTimer.cancel();
    t.actions.clear();
    t.acting = false;
    t.afterDrain = nullptr;
    t.outgoing.clear();
    t.writing = false;
    t.connected = false;
    t.registering = false;
    t.socket.shutdown(tcp::socket::shutdown_both, ignored);
    t.socket.close(ignored);
    SetState(t, TerminalState::Closed);
    std::shared_ptr<StatefulTerminal> stateful;
    {
        std::lock_guard guard(t.lock);
        stateful = t.stateful;
    }
    if (stateful) stateful->ResetStream();

    t.actionTimer.expires_after(offline);
    t.actionTimer.async_wait([this, &t, generation = t.generation](const asio::error_code& error) {
        if (error || t.stopped || generation != t.generation) return;
        {
            std::lock_guard guard(t.lock);
            t.state = TerminalState::Connecting;
        }
        t.firstMessage = RegistrationMessage(t.setup);
        Connect(t);
    });
}

void TerminalSimulator::Stop(Terminal& t) {
    t.stopped = true;
    t.timer.cancel();
    t.actionTimer.cancel();
    t.actions.clear();
    t.afterDrain = nullptr;
}

void TerminalSimulator::MakeStateful(std::size_t index, TerminalScript script,
                                     pelmora::AlarmSettings settings) {
    Terminal& t = At(index);
    auto stateful = std::make_shared<StatefulTerminal>(t.setup.deviceId, std::move(script),
                                                       std::move(settings));
    std::lock_guard guard(t.lock);
    t.stateful = std::move(stateful);
}

std::shared_ptr<StatefulTerminal> TerminalSimulator::StatefulAt(std::size_t index) const {
    Terminal& t = At(index);
    std::lock_guard guard(t.lock);
    return t.stateful;
}

void TerminalSimulator::SetScript(std::size_t index, TerminalScript script) {
    if (const auto stateful = StatefulAt(index)) stateful->SetScript(std::move(script));
}

pelmora::AlarmSettings TerminalSimulator::Settings(std::size_t index) const {
    const auto stateful = StatefulAt(index);
    return stateful ? stateful->Settings() : pelmora::AlarmSettings{};
}

std::vector<std::vector<std::uint8_t>> TerminalSimulator::Messages(std::size_t index) const {
    std::vector<std::vector<std::uint8_t>> messages;
    if (const auto stateful = StatefulAt(index)) {
        for (auto& message : stateful->Messages()) messages.push_back(std::move(message.bytes));
    }
    return messages;
}

std::vector<std::string> TerminalSimulator::CommandLines(std::size_t index) const {
    std::vector<std::string> lines;
    if (const auto stateful = StatefulAt(index)) {
        for (const auto& message : stateful->Messages()) {
            if (message.kind != ReceivedMessage::Kind::Text) continue;
            std::string line(message.bytes.begin(), message.bytes.end());
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

std::size_t TerminalSimulator::Registrations(std::size_t index) const {
    Terminal& t = At(index);
    std::lock_guard guard(t.lock);
    return t.registrations;
}

void TerminalSimulator::SendRaw(std::size_t index, std::vector<std::uint8_t> wire) {
    Terminal& t = At(index);
    asio::post(t.strand,
               [this, &t, wire = std::move(wire)]() mutable { Queue(t, std::move(wire)); });
}

void TerminalSimulator::SendData(std::size_t index, const std::vector<std::uint8_t>& plain) {
    SendRaw(index, EscapeStream(plain));
}

void TerminalSimulator::SendText(std::size_t index, const std::string& text) {
    SendData(index, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void TerminalSimulator::SendHeartbeat(std::size_t index) {
    SendRaw(index, {kHeartbeatByte});
}

void TerminalSimulator::SendStatus(std::size_t index, PowerSource power) {
    SendData(index, StatusMessage(At(index).setup.deviceId, power));
}

Fleet TerminalSimulator::AddFleet(const FleetPlan& plan) {
    const auto share = [&plan](double fraction) {
        const double wanted = std::clamp(fraction, 0.0, 1.0) * static_cast<double>(plan.count);
        return static_cast<std::size_t>(std::llround(wanted));
    };
    const std::size_t refusing = share(plan.refusingShare);
    const std::size_t silent =
        std::min(share(plan.silentShare), plan.count - std::min(refusing, plan.count));
    const std::size_t deaf =
        std::min(share(plan.deafShare), plan.count - std::min(refusing + silent, plan.count));

    Fleet fleet;
    for (std::size_t i = 0; i < plan.count; ++i) {
        TerminalSpec setup;
        setup.deviceId = plan.firstId + static_cast<std::uint32_t>(i);
        setup.heartbeat = plan.heartbeat;
        TerminalScript script;
        script.answerDelay = plan.answerDelay;
        std::vector<std::size_t>* role = &fleet.answering;
        if (i < refusing) {
            script.defaultFrameResult = 0;
            role = &fleet.refusing;
        } else if (i < refusing + silent) {
            script.defaultReply = Reply::Silent;
            script.replies["AT+SHOW"] = Reply::Silent;
            script.defaultFrameResult = std::nullopt;
            role = &fleet.silent;
        } else if (i < refusing + silent + deaf) {
            role = &fleet.deaf;
        }
        const std::size_t index =
            AddTerminal(setup, RegistrationMessage(setup), role == &fleet.deaf);
        MakeStateful(index, std::move(script));
        role->push_back(index);
    }
    return fleet;
}

void TerminalSimulator::StopReading(std::size_t index) {
    Terminal& t = At(index);
    asio::post(t.strand, [&t] { t.readingStopped = true; });
}

void TerminalSimulator::Close(std::size_t index) {
    Terminal& t = At(index);
    asio::post(t.strand, [this, &t] {
        Stop(t);
        asio::error_code ignored;
        t.socket.shutdown(tcp::socket::shutdown_both, ignored);
        t.socket.close(ignored);
        SetState(t, TerminalState::Closed);
    });
}

void TerminalSimulator::Reset(std::size_t index) {
    Terminal& t = At(index);
    asio::post(t.strand, [this, &t] {
        Stop(t);
        asio::error_code ignored;
        t.socket.set_option(asio::socket_base::linger(true, 0), ignored);
        t.socket.close(ignored);
        SetState(t, TerminalState::Closed);
    });
}

TerminalState TerminalSimulator::State(std::size_t index) const {
    Terminal& t = At(index);
    std::lock_guard guard(t.lock);
    return t.state;
}

std::vector<std::uint8_t> TerminalSimulator::Received(std::size_t index) const {
    Terminal& t = At(index);
    std::lock_guard guard(t.lock);
    std::vector<std::uint8_t> plain(t.received.size());
    plain.resize(Unescape(t.received.data(), t.received.size(), plain.data()));
    return plain;
}

std::size_t TerminalSimulator::ReceivedWireBytes(std::size_t index) const {
    Terminal& t = At(index);
    std::lock_guard guard(t.lock);
    return t.received.size();
}

bool TerminalSimulator::WaitUntil(const std::function<bool()>& condition,
                                  std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace dovrik::sim
