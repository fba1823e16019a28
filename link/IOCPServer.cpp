// How the engine sits on Asio. It keeps the effects of a completion-port
// server with accept-with-first-data; only the mechanism differs:
//  - Completion port and four workers: one io_context run by four threads.
//  - Accept with first data: an asynchronous accept, then a wait for the
//    peer's first bytes; OnConnectionOpened runs once they are read. Until
//    then the peer sits on the pending list with its accept time (our
//    SO_CONNECT_TIME), holding a socket and a small record but no buffer.
//  - Pending accepts: at most 100 accepts are posted at once (10 at start, up
//    to 100 on the accept event, one more per completed accept). A peer that
//    has been accepted but is still silent no longer counts against them, so
//    silent peers cannot lock real terminals out. The listener's 1000 ms round
//    still drops a peer that stays silent for more than 300 s, and no hook ever
//    runs for it.
//  - Accept event: a wait for readability of the listening socket, armed by
//    the listener. It fires when connections wait and no posted accept is left
//    to take them. Asio cannot wait so on Windows; there the listener looks
//    whenever a completed accept wakes it (platform::UnannouncedPeersWaiting).
//  - Out of descriptors: a failed accept leaves its peer in the listen
//    backlog. Until an accept succeeds again the listener posts no accepts and
//    leaves the accept event unarmed; each round posts one probe accept. So it
//    cannot spin, the operator is told once, and the waiting terminals are
//    taken as soon as descriptors come free.
//  - Pending peers are bounded: past the bound the oldest silent peer is
//    dropped, so a flood of silent connections cannot use up the descriptors
//    that real terminals need.
//  - Overlapped receive: a wait for readability, then one non-blocking read of
//    up to 8192 bytes (8128 for the first message) into a pool buffer; a read
//    that fills its buffer is followed at once by another, up to four, before
//    the next wait. Reads after the first are parts of one stream, whatever
//    the sizes. An idle connection holds no buffer.
//  - Abortive close: linger on with 0 seconds, then close.
//  - Ending the workers: the shutdown closes every socket and drops the work
//    guard; each worker ends when the last aborted completion has run.
//  - Releasing records: shared ownership. A record returns to its free list
//    once its outstanding operation, the indexes and any sender let go of it.
//  - Blocking send: bounded by the send timeout, one message at a time per
//    connection. The sender pins the connection (pendingSends), so a close
//    meanwhile only cancels its receive; the descriptor is closed when the
//    send ends and cannot be reused under the sender.
//  - Runs: every handler carries the number of the run that posted it. A
//    shutdown that had to stop the io_context under a stuck worker leaves
//    handlers queued; in the next run they only let go of what they hold.
#include "IOCPServer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include <asio/post.hpp>

#include "platform/SocketPlatform.h"

namespace dovrik {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kInitialAccepts = 10;
constexpr std::size_t kDefaultFreeBuffers = 200;
constexpr std::size_t kDefaultFreeConnections = 100;

template <class Hook>
void Guarded(Hook&& hook) {
    try {
        hook();
    } catch (...) {
        // A failure inside one hook never stops the server.
    }
}

template <class Endpoint>
std::array<std::uint8_t, 16> AddressBytes(const Endpoint& endpoint) {
    std::array<std::uint8_t, 16> bytes{};
    std::memcpy(bytes.data(), endpoint.data(),
                std::min<std::size_t>(bytes.size(), endpoint.size()));
    return bytes;
}

}  // namespace

CIOCPServer::CIOCPServer()
    : io_(kWorkerThreads),
      buffers_(kDefaultFreeBuffers),
      connections_(io_, buffers_, kDefaultFreeConnections),
      acceptor_(io_) {}

CIOCPServer::~CIOCPServer() {
    // Handlers that a shutdown left queued under an abandoned worker hold
    // connection records and buffers of the pools. Run now, while the pools
    // still exist, they only let go of what they hold: they are stale.
    run_.fetch_add(1);
    try {
        io_.restart();
        io_.poll();
    } catch (...) {
    }
}

CIOCPServer::StartResult CIOCPServer::Start(std::uint16_t port, std::size_t maxFreeBuffers,
                                            std::size_t maxFreeConnections) {
    if (started_) return StartResult::AlreadyStarted;
    buffers_.SetMaxFree(maxFreeBuffers);
    connections_.SetMaxFree(maxFreeConnections);
    // Long-lived servers take what the hard limit allows: the usual soft
    // limit of 1024 would refuse terminals long before the machine runs out.
    const std::size_t descriptorLimit = platform::RaiseDescriptorLimit();

    asio::error_code error;
    acceptor_.open(tcp::v4(), error);
    // A restart binds while old connections linger in TIME_WAIT; a port
    // another socket listens on still fails to bind.
    if (!error) error = platform::SetListenerBindRule(acceptor_.native_handle());
    if (!error) acceptor_.bind(tcp::endpoint(asio::ip::address_v4::any(), port), error);
    if (!error) acceptor_.listen(kListenBacklog, error);
    if (error) {
        asio::error_code ignored;
        acceptor_.close(ignored);
        return StartResult::BindFailed;
    }
    boundPort_.store(acceptor_.local_endpoint(error).port());

    run_.fetch_add(1);
    io_.restart();
    work_.emplace(io_.get_executor());
    {
        std::lock_guard guard(eventLock_);
        stopFlag_ = false;
        acceptEvent_ = false;
        repostCounter_ = 0;
        workersEnded_ = 0;
        acceptStarved_ = false;
        starvationTold_ = false;
        acceptEventArmed_ = false;
        timingsChanged_ = false;
        startup_ = Startup::Pending;
    }
    {
        std::lock_guard guard(pendingAcceptLock_);
        accepting_ = true;
        outstandingAccepts_ = 0;
        descriptorLimit_ = descriptorLimit;
        descriptorsAtStart_ = platform::OpenDescriptorCount();
    }
    {
        std::lock_guard guard(connectionListLock_);
        admitting_ = true;
    }
    try {
        listener_ = MakeThread([this] { ListenerMain(); });
    } catch (...) {
        work_.reset();
        asio::error_code ignored;
        acceptor_.close(ignored);
        return StartResult::ThreadFailed;
    }
    Startup outcome = Startup::Pending;
    {
        std::unique_lock lock(eventLock_);
        eventSignal_.wait(lock, [this] { return startup_ != Startup::Pending; });
        outcome = startup_;
    }
    if (outcome == Startup::Failed) {
        listener_.join();  // it has shut everything down again
        return StartResult::ThreadFailed;
    }
    started_ = true;
    return StartResult::Started;
}

void CIOCPServer::Stop() {
    if (!started_) return;
    {
        std::lock_guard guard(eventLock_);
        stopFlag_ = true;
    }
    eventSignal_.notify_all();
    if (listener_.joinable()) listener_.join();
    started_ = false;
}

std::thread CIOCPServer::MakeThread(std::function<void()> body) {
    const auto drills = Drills();
    if (drills && drills->makeThread) return drills->makeThread(std::move(body));
    return std::thread(std::move(body));
}

std::shared_ptr<const EngineDrills> CIOCPServer::Drills() const {
    std::lock_guard guard(drillLock_);
    return drills_;
}

void CIOCPServer::SetDrills(EngineDrills drills) {
    auto shared = std::make_shared<const EngineDrills>(std::move(drills));
    std::lock_guard guard(drillLock_);
    drills_ = std::move(shared);
}

void CIOCPServer::ListenerMain() {
    PostAccepts(static_cast<int>(kInitialAccepts));
    const bool workersRun = StartWorkers();
    {
        std::lock_guard guard(eventLock_);
        startup_ = workersRun ? Startup::Running : Startup::Failed;
    }
    eventSignal_.notify_all();
    if (!workersRun) {
        ShutDown();
        return;
    }
    ArmAcceptEvent();

    std::unique_lock lock(eventLock_);
    auto lastRound = Clock::now();
    auto nextRound = lastRound + timings_.round;
    for (;;) {
        eventSignal_.wait_until(lock, nextRound, [this] {
            return stopFlag_ || acceptEvent_ || repostCounter_ > 0 || workersEnded_ > 0 ||
                   timingsChanged_;
        });
        if (stopFlag_) break;
        if (std::exchange(timingsChanged_, false)) nextRound = lastRound + timings_.round;
        if (workersEnded_ > 0) {
            stopFlag_ = true;
            lock.unlock();
            ShowOperatorMessage(kEngineFailureMessage);
            lock.lock();
            continue;
        }
        // The round runs once per interval even while events keep the
        // listener busy, so a steady stream of connections cannot shield
        // silent peers from the scan.
        if (Clock::now() >= nextRound) {
            lastRound = Clock::now();
            nextRound = lastRound + timings_.round;
            const auto limit = timings_.silentPeerLimit;
            const bool probe = acceptStarved_;
            lock.unlock();
            DropSilentPeers(limit);
            if (probe) PostProbeAccept();
            listenerRounds_.fetch_add(1);
            lock.lock();
        }
        int count = std::exchange(repostCounter_, 0);
        bool event = std::exchange(acceptEvent_, false);
        // Out of descriptors, every accept posted now would fail at once.
        if (acceptStarved_) continue;
        // Where the platform cannot raise the accept event, the listener looks
        // each time a completed accept wakes it.
        if (!event && count > 0 && platform::UnannouncedPeersWaiting(acceptor_.native_handle())) {
            event = true;
        }
        if (event) count = static_cast<int>(kMaxOutstandingAccepts);
        if (count == 0) continue;
        lock.unlock();
        PostAccepts(count);
        if (event) ArmAcceptEvent();
        lock.lock();
    }
    lock.unlock();
    ShutDown();
}

bool CIOCPServer::StartWorkers() {
    try {
        workers_.reserve(kWorkerThreads);
        for (int i = 0; i < kWorkerThreads; ++i)
            workers_.push_back(MakeThread([this] { WorkerMain(); }));
    } catch (...) {
        return false;  // the shutdown ends those that run
    }
    return true;
}

void CIOCPServer::WorkerMain() {
    for (;;) {
        try {
            io_.run();
            break;
        } catch (const WorkerFault&) {
            ShowOperatorMessage(kWorkerExitMessage);
            break;
        } catch (...) {
            // A failure inside one dispatch is ignored; the loop goes on.
        }
    }
    {
        std::lock_guard guard(eventLock_);
        ++workersEnded_;
    }
    eventSignal_.notify_all();
}

void CIOCPServer::ShutDown() {
    ConnectionList silent;
    {
        std::lock_guard guard(pendingAcceptLock_);
        accepting_ = false;
        silent.swap(pendingPeers_);
        for (auto& c : silent) c->onPendingList = false;
    }
    for (auto& c : silent) MarkClosed(*c);
    silent.clear();
    {
        std::lock_guard guard(connectionListLock_);
        admitting_ = false;
        for (auto& c : connectionList_) {
            MarkClosed(*c);
            c->onConnectionList = false;
        }
        connectionList_.clear();
    }
    std::this_thread::yield();
    asio::error_code ignored;
    acceptor_.close(ignored);
    std::this_thread::yield();

    work_.reset();
    bool abandoned = false;
    {
        std::unique_lock lock(eventLock_);
        const int running = static_cast<int>(workers_.size());
        abandoned = !eventSignal_.wait_for(lock, timings_.workerExitWait,
                                           [&] { return workersEnded_ >= running; });
    }
    if (abandoned) {
        // Handlers still queued stay in the io_context; the next run's number
        // disarms them.
        io_.stop();
        if (const auto drills = Drills(); drills && drills->workersAbandoned) {
            drills->workersAbandoned();
        }
    }
    for (auto& worker : workers_) worker.join();
    workers_.clear();
    buffers_.Clear();
    connections_.Clear();
}

bool CIOCPServer::PostReceive(const ConnectionPtr& connection,
                              std::optional<std::uint32_t> stillOutstanding) {
    std::lock_guard guard(connection->lock);
    if (connection->closing.load() || !connection->socket.is_open()) return false;
    // The first message completes the accept and has no receive number; a
    // wait that woke without data keeps the number of its receive.
    const bool numbered = !connection->awaitingFirstData && !stillOutstanding;
    const std::uint32_t sequence =
        stillOutstanding ? *stillOutstanding : (numbered ? connection->nextReceiveSequence : 0);
    connection->socket.async_wait(
        tcp::socket::wait_read,
        [this, run = run_.load(), connection, sequence](const asio::error_code& error) {
            OnReceiveReady(run, connection, sequence, error);
        });
    ++connection->pendingReceives;
    if (numbered) ++connection->nextReceiveSequence;
    return true;
}

void CIOCPServer::OnReceiveReady(std::uint64_t run, const ConnectionPtr& connection,
                                 std::uint32_t sequence, const asio::error_code& waitError) {
    if (IsStale(run)) return;
    {
        std::lock_guard guard(connection->lock);
        --connection->pendingReceives;
        if (connection->closing.load()) return;
    }
    Receive(connection, sequence, waitError);
}

void CIOCPServer::Receive(const ConnectionPtr& connection, std::uint32_t sequence,
                          asio::error_code error, int readsInARow) {
    const bool first = connection->awaitingFirstData;
    IoBuffer* buffer = nullptr;
    std::size_t received = 0;
    if (!error) {
        buffer = buffers_.Take(first ? kFirstReceiveLength : IoBuffer::kCapacity);
        if (buffer == nullptr) {
            if (first) {
                DropPendingPeer(connection);
            } else {
                CloseConnection(connection);
            }
            return;
        }
        buffer->kind = OP_RECEIVE;
        buffer->sequence = sequence;
        std::lock_guard guard(connection->lock);
        if (connection->closing.load()) {
            buffers_.Release(buffer);
            return;
        }
        received = connection->socket.read_some(
            asio::buffer(buffer->data, static_cast<std::size_t>(buffer->length)), error);
    }
    if (error == asio::error::would_block || error == asio::error::try_again) {
        buffers_.Release(buffer);  // woken without data: the same receive waits on
        if (!PostReceive(connection, sequence)) CloseConnection(connection);
        return;
    }
    if (first && (error || received == 0)) {
        // A peer that closes or fails before its first message never reaches a hook.
        buffers_.Release(buffer);
        DropPendingPeer(connection);
        return;
    }
    if (error == asio::error::eof || (!error && received == 0)) {
        buffer->length = 0;
        Guarded([&] { OnConnectionClosed(connection, buffer); });
        CloseConnection(connection);
        buffers_.Release(buffer);
        return;
    }
    if (error) {
        if (buffer != nullptr) buffer->length = 0;
        Guarded([&] { OnConnectionFailed(connection, buffer, error.value()); });
        CloseConnection(connection);
        buffers_.Release(buffer);
        return;
    }
    const bool filled = received == static_cast<std::size_t>(buffer->length);
    buffer->length = static_cast<int>(received);
    if (first) {
        OpenConnection(connection, buffer);
    } else {
        connection->sequencer.Complete(buffer, [&](IoBuffer* next) {
            Guarded([&] { OnReadDone(connection, next); });
            buffers_.Release(next);
        });
    }
    // A read that filled its buffer mostly leaves more waiting: read on at
    // once, a few times, before waiting again. A busy terminal then costs one
    // wait for several reads, and the other connections still get their turn.
    if (!first && filled && readsInARow + 1 < kReadsPerWait) {
        std::uint32_t next = 0;
        {
            std::lock_guard guard(connection->lock);
            if (connection->closing.load()) return;
            next = connection->nextReceiveSequence++;
        }
        Receive(connection, next, {}, readsInARow + 1);
        return;
    }
    if (!PostReceive(connection)) CloseConnection(connection);
}

void CIOCPServer::OpenConnection(const ConnectionPtr& connection, IoBuffer* firstData) {
    if (const auto drills = Drills(); drills && drills->beforeAdmission) {
        drills->beforeAdmission(connection);
    }
    bool stillPending = false;
    {
        // The silent-peer scan, the pending bound or the shutdown may have
        // dropped the peer while its first message was read; it stays dropped.
        std::lock_guard guard(pendingAcceptLock_);
        stillPending = connection->onPendingList;
        if (stillPending) {
            pendingPeers_.erase(connection->pendingListPos);
            connection->onPendingList = false;
        }
    }
    if (!stillPending) {
        buffers_.Release(firstData);
        MarkClosed(*connection);
        return;
    }
    bool admitted = false;
    {
        std::lock_guard guard(connectionListLock_);
        admitted = admitting_ && !connection->closing.load();
        if (admitted) {
            connectionList_.push_front(connection);
            connection->connectionListPos = connectionList_.begin();
            connection->onConnectionList = true;
        }
    }
    if (!admitted) {
        buffers_.Release(firstData);
        DropPendingPeer(connection);
        return;
    }
    {
        std::lock_guard guard(connection->lock);
        asio::error_code ignored;
        connection->localAddress = AddressBytes(connection->socket.local_endpoint(ignored));
        connection->remoteAddress = AddressBytes(connection->socket.remote_endpoint(ignored));
    }
    connection->awaitingFirstData = false;
    Guarded([&] { OnConnectionOpened(connection, firstData); });
    buffers_.Release(firstData);
}

void CIOCPServer::CloseConnection(const ConnectionPtr& connection) {
    {
        std::lock_guard guard(connectionListLock_);
        if (connection->onConnectionList) {
            connectionList_.erase(connection->connectionListPos);
            connection->onConnectionList = false;
        }
    }
    MarkClosed(*connection);
}

void CIOCPServer::MarkClosed(Connection& connection) {
    std::lock_guard guard(connection.lock);
    if (connection.socket.is_open()) {
        asio::error_code ignored;
        if (connection.pendingSends > 0) {
            connection.socket.cancel(ignored);  // the last sender closes it
        } else {
            connection.socket.close(ignored);
        }
    }
    connection.closing.store(true);
}

void CIOCPServer::SetTimings(const EngineTimings& timings) {
    {
        std::lock_guard guard(eventLock_);
        timings_ = timings;
        timingsChanged_ = true;  // a shorter round applies to the wait under way
    }
    eventSignal_.notify_all();
}

EngineTimings CIOCPServer::Timings() const {
    std::lock_guard guard(eventLock_);
    return timings_;
}

void CIOCPServer::SetPendingPeerLimit(std::size_t limit) {
    std::lock_guard guard(pendingAcceptLock_);
    pendingLimitSet_ = limit;
}

void CIOCPServer::SetOperatorMessageSink(OperatorMessageSink sink) {
    std::lock_guard guard(eventLock_);
    operatorSink_ = std::move(sink);
}

void CIOCPServer::ShowOperatorMessage(const std::string& text) {
    OperatorMessageSink sink;
    {
        std::lock_guard guard(eventLock_);
        sink = operatorSink_;
    }
    if (sink) {
        sink(text);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

std::size_t CIOCPServer::PendingPeerCount() const {
    std::lock_guard guard(pendingAcceptLock_);
    return pendingPeers_.size();
}

std::size_t CIOCPServer::OpenConnectionCount() const {
    std::lock_guard guard(connectionListLock_);
    return connectionList_.size();
}

std::size_t CIOCPServer::OutstandingAccepts() const {
    std::lock_guard guard(pendingAcceptLock_);
    return outstandingAccepts_;
}

void CIOCPServer::InjectWorkerFault() {
    asio::post(io_, [this, run = run_.load()] {
        if (!IsStale(run)) throw WorkerFault{};
    });
}

}  // namespace dovrik
