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
//    to take them. After a failed accept (descriptors or memory exhausted) it is
//    re-armed only at the next round, so the listener cannot spin.
//  - Overlapped receive: a wait for readability, then one non-blocking read of
//    up to 8192 bytes (8128 for the first message) into a pool buffer. One
//    read is one message, as one completed receive was, and an idle
//    connection holds no buffer.
//  - Abortive close: linger on with 0 seconds, then close.
//  - Ending the workers: the shutdown closes every socket and drops the work
//    guard; each worker ends when the last aborted completion has run.
//  - Releasing records: shared ownership. A record returns to its free list
//    once its outstanding operation, the indexes and any sender let go of it.
//  - Blocking send: a sender pins the connection (pendingSends), so a close
//    meanwhile only cancels its receive; the descriptor is closed when the
//    send ends and cannot be reused under the sender.
#include "IOCPServer.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include <asio/post.hpp>

namespace dovrik {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kInitialAccepts = 10;
constexpr std::size_t kMaxOutstandingAccepts = 100;
constexpr std::size_t kDefaultFreeBuffers = 200;
constexpr std::size_t kDefaultFreeConnections = 100;
// How often a sender waiting for room looks whether its connection was closed.
constexpr int kSendPollSliceMs = 100;

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

bool WriteAll(int fd, const std::uint8_t* data, std::size_t length,
              const std::atomic<bool>& closing) {
    std::size_t sent = 0;
    while (sent < length) {
        const ssize_t n = ::send(fd, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (closing.load()) return false;
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, kSendPollSliceMs);
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

CIOCPServer::CIOCPServer()
    : io_(kWorkerThreads),
      buffers_(kDefaultFreeBuffers),
      connections_(io_, buffers_, kDefaultFreeConnections),
      acceptor_(io_) {}

CIOCPServer::~CIOCPServer() = default;

bool CIOCPServer::Start(std::uint16_t port, std::size_t maxFreeBuffers,
                        std::size_t maxFreeConnections) {
    if (started_) return false;
    buffers_.SetMaxFree(maxFreeBuffers);
    connections_.SetMaxFree(maxFreeConnections);

    asio::error_code error;
    acceptor_.open(tcp::v4(), error);
    // Lets a restart bind while old connections linger in TIME_WAIT; a port
    // another socket listens on still fails to bind.
    if (!error) acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor_.bind(tcp::endpoint(asio::ip::address_v4::any(), port), error);
    if (!error) acceptor_.listen(kListenBacklog, error);
    if (error) {
        asio::error_code ignored;
        acceptor_.close(ignored);
        return false;
    }
    boundPort_.store(acceptor_.local_endpoint(error).port());

    io_.restart();
    work_.emplace(io_.get_executor());
    {
        std::lock_guard guard(eventLock_);
        stopFlag_ = false;
        acceptEvent_ = false;
        repostCounter_ = 0;
        workersEnded_ = 0;
        acceptStarved_ = false;
    }
    {
        std::lock_guard guard(pendingAcceptLock_);
        accepting_ = true;
        outstandingAccepts_ = 0;
    }
    {
        std::lock_guard guard(connectionListLock_);
        admitting_ = true;
    }
    listener_ = std::thread([this] { ListenerMain(); });
    started_ = true;
    return true;
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

void CIOCPServer::ListenerMain() {
    PostAccepts(static_cast<int>(kInitialAccepts));
    for (int i = 0; i < kWorkerThreads; ++i) workers_.emplace_back([this] { WorkerMain(); });
    ArmAcceptEvent();

    std::unique_lock lock(eventLock_);
    auto nextRound = Clock::now() + timings_.round;
    for (;;) {
        eventSignal_.wait_until(lock, nextRound, [this] {
            return stopFlag_ || acceptEvent_ || repostCounter_ > 0 || workersEnded_ > 0;
        });
        if (stopFlag_) break;
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
            nextRound = Clock::now() + timings_.round;
            const auto limit = timings_.silentPeerLimit;
            const bool rearm = std::exchange(acceptStarved_, false);
            lock.unlock();
            DropSilentPeers(limit);
            if (rearm) ArmAcceptEvent();
            lock.lock();
        }
        int count = std::exchange(repostCounter_, 0);
        bool rearm = false;
        if (acceptEvent_) {
            acceptEvent_ = false;
            count = static_cast<int>(kMaxOutstandingAccepts);
            rearm = !acceptStarved_;
        }
        if (count == 0 && !rearm) continue;
        lock.unlock();
        PostAccepts(count);
        if (rearm) ArmAcceptEvent();
        lock.lock();
    }
    lock.unlock();
    ShutDown();
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
    {
        std::unique_lock lock(eventLock_);
        const bool ended = eventSignal_.wait_for(
            lock, timings_.workerExitWait, [this] { return workersEnded_ >= kWorkerThreads; });
        if (!ended) io_.stop();
    }
    for (auto& worker : workers_) worker.join();
    workers_.clear();
    buffers_.Clear();
    connections_.Clear();
}

void CIOCPServer::PostAccepts(int count) {
    for (int i = 0; i < count; ++i) {
        {
            std::lock_guard guard(pendingAcceptLock_);
            if (!accepting_ || outstandingAccepts_ >= kMaxOutstandingAccepts) return;
            ++outstandingAccepts_;
        }
        acceptor_.async_accept([this](const asio::error_code& error, tcp::socket socket) {
            OnAcceptDone(error, std::move(socket));
        });
    }
}

void CIOCPServer::ArmAcceptEvent() {
    acceptor_.async_wait(tcp::acceptor::wait_read, [this](const asio::error_code& error) {
        if (error) return;
        {
            std::lock_guard guard(eventLock_);
            acceptEvent_ = true;
        }
        eventSignal_.notify_all();
    });
}

void CIOCPServer::OnAcceptDone(const asio::error_code& error, tcp::socket socket) {
    {
        std::lock_guard guard(pendingAcceptLock_);
        --outstandingAccepts_;
    }
    if (error) {
        if (error != asio::error::operation_aborted) {
            std::lock_guard guard(eventLock_);
            acceptStarved_ = true;
        }
        return;
    }
    asio::error_code ignored;
    socket.set_option(asio::socket_base::linger(true, 0), ignored);
    // Each send is one whole message: it goes out at once instead of waiting
    // behind the acknowledgement of the previous one.
    socket.set_option(tcp::no_delay(true), ignored);
    socket.non_blocking(true, ignored);
    if (ConnectionPtr connection = connections_.Take(std::move(socket))) {
        connection->serial = nextSerial_.fetch_add(1);
        connection->acceptedAt = Clock::now();
        bool admitted = false;
        {
            std::lock_guard guard(pendingAcceptLock_);
            admitted = accepting_;
            if (admitted) {
                pendingPeers_.push_front(connection);
                connection->pendingListPos = pendingPeers_.begin();
                connection->onPendingList = true;
            }
        }
        SignalRepost();
        if (admitted) {
            // A terminal sends its registration right after connecting, so it
            // has mostly arrived by now: read at once, wait only if it has not.
            Receive(connection, 0, {});
        } else {
            DropPendingPeer(connection);
        }
        return;
    }
    SignalRepost();
}

void CIOCPServer::SignalRepost() {
    bool wake = false;
    {
        std::lock_guard guard(eventLock_);
        wake = repostCounter_++ == 0;  // the listener takes the whole count when it wakes
    }
    if (wake) eventSignal_.notify_all();
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
    connection->socket.async_wait(tcp::socket::wait_read,
                                  [this, connection, sequence](const asio::error_code& error) {
                                      OnReceiveReady(connection, sequence, error);
                                  });
    ++connection->pendingReceives;
    if (numbered) ++connection->nextReceiveSequence;
    return true;
}

void CIOCPServer::OnReceiveReady(const ConnectionPtr& connection, std::uint32_t sequence,
                                 const asio::error_code& waitError) {
    {
        std::lock_guard guard(connection->lock);
        --connection->pendingReceives;
        if (connection->closing.load()) return;
    }
    Receive(connection, sequence, waitError);
}

void CIOCPServer::Receive(const ConnectionPtr& connection, std::uint32_t sequence,
                          asio::error_code error) {
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
    buffer->length = static_cast<int>(received);
    if (first) {
        OpenConnection(connection, buffer);
    } else {
        connection->sequencer.Complete(buffer, [&](IoBuffer* next) {
            Guarded([&] { OnReadDone(connection, next); });
            buffers_.Release(next);
        });
    }
    if (!PostReceive(connection)) CloseConnection(connection);
}

void CIOCPServer::OpenConnection(const ConnectionPtr& connection, IoBuffer* firstData) {
    {
        std::lock_guard guard(pendingAcceptLock_);
        if (connection->onPendingList) {
            pendingPeers_.erase(connection->pendingListPos);
            connection->onPendingList = false;
        }
    }
    bool admitted = false;
    {
        std::lock_guard guard(connectionListLock_);
        admitted = admitting_;
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

void CIOCPServer::DropPendingPeer(const ConnectionPtr& connection) {
    {
        std::lock_guard guard(pendingAcceptLock_);
        if (connection->onPendingList) {
            pendingPeers_.erase(connection->pendingListPos);
            connection->onPendingList = false;
        }
    }
    MarkClosed(*connection);
}

void CIOCPServer::DropSilentPeers(std::chrono::milliseconds limit) {
    const auto now = Clock::now();
    ConnectionList expired;
    {
        std::lock_guard guard(pendingAcceptLock_);
        // Newest first: the oldest peers sit at the back.
        while (!pendingPeers_.empty() && now - pendingPeers_.back()->acceptedAt > limit) {
            pendingPeers_.back()->onPendingList = false;
            expired.splice(expired.begin(), pendingPeers_, std::prev(pendingPeers_.end()));
        }
    }
    for (auto& c : expired) MarkClosed(*c);
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

bool CIOCPServer::SendBlocking(const ConnectionPtr& connection, const std::uint8_t* data,
                               std::size_t length) {
    int fd = -1;
    {
        std::lock_guard guard(connection->lock);
        if (connection->closing.load() || !connection->socket.is_open()) return false;
        ++connection->pendingSends;
        fd = connection->socket.native_handle();
    }
    const bool sent = WriteAll(fd, data, length, connection->closing);
    std::lock_guard guard(connection->lock);
    --connection->pendingSends;
    if (connection->closing.load() && connection->pendingSends == 0 &&
        connection->socket.is_open()) {
        asio::error_code ignored;
        connection->socket.close(ignored);
    }
    return sent;
}

void CIOCPServer::SetTimings(const EngineTimings& timings) {
    std::lock_guard guard(eventLock_);
    timings_ = timings;
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
    asio::post(io_, [] { throw WorkerFault{}; });
}

}  // namespace dovrik
