// The connection engine: accepts terminal connections on one port, receives
// on all of them with four worker threads, and reports every event to the
// hooks that a derived class implements. Sending bypasses the engine's
// completion side: Send writes straight to the connection's socket.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include "Connection.h"
#include "IoBuffer.h"

namespace dovrik {

// Every timing of the engine. The defaults are those of the service; tests
// shorten them so that nothing waits through a real protocol timeout.
struct EngineTimings {
    std::chrono::milliseconds round{1000};               // the listener's wait
    std::chrono::milliseconds silentPeerLimit{300'000};  // connected without a first message
    std::chrono::milliseconds workerExitWait{5000};      // at shutdown
    std::chrono::milliseconds sendTimeout{5000};         // one message to one terminal
};

// Points where a test steps in to force an interleaving that the network
// produces only rarely, or a failure the machine rarely has. All empty in
// the service.
struct EngineDrills {
    // Makes every thread of the engine; std::thread when empty.
    std::function<std::thread(std::function<void()>)> makeThread;
    // On a worker: a peer's first message has been read, the peer is not yet
    // admitted.
    std::function<void(const ConnectionPtr&)> beforeAdmission;
    // On the listener: the shutdown gave up waiting for the workers and
    // stopped the completion side under them.
    std::function<void()> workersAbandoned;
};

// Where the operator messages of an internal failure go. The library has
// no window, so by default they are written to standard error.
using OperatorMessageSink = std::function<void(const std::string&)>;

inline constexpr char kWorkerExitMessage[] =
    "GetQueuedCompletionStatus() return,WorkThread exit,dwkey==0";
inline constexpr char kEngineFailureMessage[] =
    "An Error Occur in IOCP !!! pls close the d2a and reopen again";
inline constexpr char kOutOfDescriptorsMessage[] =
    "Too many open files: new terminals wait until connections close";

class CIOCPServer {
  public:
    static constexpr int kWorkerThreads = 4;
    static constexpr int kListenBacklog = 200;
    static constexpr int kFirstReceiveLength = IoBuffer::kCapacity - 64;
    static constexpr std::size_t kMaxOutstandingAccepts = 100;
    // Reads of a busy connection, at most, for one wait.
    static constexpr int kReadsPerWait = 8;
    // Peers connected without their first message, at most; fewer when half
    // of the descriptors still free for connections is less.
    static constexpr std::size_t kMaxPendingPeers = 10'000;

    enum class StartResult { Started, AlreadyStarted, BindFailed, ThreadFailed };
    enum class SendResult { Sent, Closed, Failed, TimedOut };

    CIOCPServer();
    virtual ~CIOCPServer();
    CIOCPServer(const CIOCPServer&) = delete;
    CIOCPServer& operator=(const CIOCPServer&) = delete;

    // The hooks, in slot order. They run on the worker threads, for different
    // connections at the same time, and never for a connection the server has
    // closed. The buffer of OnConnectionFailed may be null.
    virtual void OnConnectionOpened(const ConnectionPtr& connection, IoBuffer* buffer) = 0;
    virtual void OnConnectionClosed(const ConnectionPtr& connection, IoBuffer* buffer) = 0;
    virtual void OnConnectionFailed(const ConnectionPtr& connection, IoBuffer* buffer,
                                    int error) = 0;
    virtual void OnReadDone(const ConnectionPtr& connection, IoBuffer* buffer) = 0;
    virtual void OnWriteDone(const ConnectionPtr& connection, IoBuffer* buffer) = 0;
    virtual bool CheckFrames(const ConnectionPtr& connection, IoBuffer* buffer) = 0;

    // Raises the descriptor limit, binds and listens on all local addresses,
    // and starts the listener thread, which starts the workers. Returns once
    // all five threads run. On failure nothing runs and Start may be called
    // again.
    StartResult Start(std::uint16_t port, std::size_t maxFreeBuffers,
                      std::size_t maxFreeConnections);
    // Signals the listener and waits for it to close everything and end.
    void Stop();
    // True from a successful Start until Stop, also after the engine shut
    // itself down because a worker ended.
    bool IsStarted() const { return started_; }

    // Removes the connection from the live list, closes its socket at once
    // (the peer sees a reset) and marks it closing, so no hook runs for it.
    void CloseConnection(const ConnectionPtr& connection);
    // Writes the whole message to the connection's socket, waiting for room
    // at most the send timeout, and never interleaved with another sender's
    // message. A message cut off by the timeout would corrupt the stream, so
    // the connection is then closed at once (TimedOut). A message of which
    // nothing could be written by then fails and leaves the connection open
    // (Failed), as does a sender that cannot get its turn in time.
    SendResult Send(const ConnectionPtr& connection, const std::uint8_t* data, std::size_t length);

    void SetTimings(const EngineTimings& timings);
    EngineTimings Timings() const;
    void SetOperatorMessageSink(OperatorMessageSink sink);
    // Bounds the peers waiting for their first message; beyond it the oldest
    // is dropped. 0 restores the default, half of the descriptors that
    // neither the process held at Start nor open connections hold.
    void SetPendingPeerLimit(std::size_t limit);
    void SetDrills(EngineDrills drills);
    // The port actually bound by the last successful Start.
    std::uint16_t LocalPort() const { return boundPort_.load(); }
    std::size_t PendingPeerCount() const;
    std::size_t OpenConnectionCount() const;
    std::size_t OutstandingAccepts() const;
    std::size_t BuffersInUse() const { return buffers_.InUse(); }
    // Accepts that failed (out of descriptors or memory), and the listener's
    // completed rounds, over the life of the server.
    std::uint64_t FailedAccepts() const { return failedAccepts_.load(); }
    std::uint64_t ListenerRounds() const { return listenerRounds_.load(); }
    // Fault drill: makes one worker thread end as if the completion mechanism
    // had failed under it.
    void InjectWorkerFault();

  protected:
    void ShowOperatorMessage(const std::string& text);

  private:
    struct WorkerFault {};
    enum class Startup { Pending, Running, Failed };

    void ListenerMain();
    bool StartWorkers();
    void WorkerMain();
    void ShutDown();
    std::thread MakeThread(std::function<void()> body);
    std::shared_ptr<const EngineDrills> Drills() const;
    // Handlers carry the run they were posted in; one of an earlier run, left
    // in the io_context by a shutdown that stopped it under a stuck worker,
    // must not touch the state of this one.
    bool IsStale(std::uint64_t run) const { return run != run_.load(); }

    void PostAccepts(int count);
    // While accepts fail, one accept a round looks whether descriptors came free.
    void PostProbeAccept();
    void ArmAcceptEvent();
    void OnAcceptDone(std::uint64_t run, const asio::error_code& error,
                      asio::ip::tcp::socket socket);
    void OnAcceptFailed(const asio::error_code& error);
    bool PostReceive(const ConnectionPtr& connection,
                     std::optional<std::uint32_t> stillOutstanding = std::nullopt);
    void OnReceiveReady(std::uint64_t run, const ConnectionPtr& connection, std::uint32_t sequence,
                        const asio::error_code& error);
    // Reads what has arrived, or waits again if nothing has yet.
    void Receive(const ConnectionPtr& connection, std::uint32_t sequence, asio::error_code error,
                 int readsInARow = 0);
    void SignalRepost();
    void OpenConnection(const ConnectionPtr& connection, IoBuffer* firstData);
    void DropPendingPeer(const ConnectionPtr& connection);
    // Closes the peer that has waited longest for its first message; false
    // when none waits.
    bool DropOldestPendingPeer();
    // The bound on waiting peers while `openConnections` are open. Requires
    // pendingAcceptLock_.
    std::size_t PendingBoundLocked(std::size_t openConnections) const;
    void DropSilentPeers(std::chrono::milliseconds limit);
    // Closes the socket at once (or, while a send is under way, when it ends)
    // and sets `closing`.
    static void MarkClosed(Connection& connection);

    // Constant after construction.
    asio::io_context io_;
    BufferPool buffers_;
    ConnectionPool connections_;

    // Used by the listener thread only, and by Start before it exists.
    asio::ip::tcp::acceptor acceptor_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
    std::thread listener_;
    std::vector<std::thread> workers_;

    // Set by Start and Stop on the caller's thread.
    bool started_ = false;
    std::atomic<std::uint16_t> boundPort_{0};
    std::atomic<std::uint64_t> run_{0};  // counts the starts

    // The listener's wake-up: accept event, re-post counter, ended workers.
    mutable std::mutex eventLock_;
    std::condition_variable eventSignal_;
    bool stopFlag_ = false;     // guarded by eventLock_
    bool acceptEvent_ = false;  // guarded by eventLock_
    int repostCounter_ = 0;     // guarded by eventLock_
    int workersEnded_ = 0;      // guarded by eventLock_
    // Set when an accept fails (out of descriptors or memory) and cleared by
    // the next accept that succeeds. Meanwhile the listener posts no accepts
    // and leaves the accept event unarmed: only the round's probe tries.
    bool acceptStarved_ = false;     // guarded by eventLock_
    bool starvationTold_ = false;    // guarded by eventLock_; the operator knows of this episode
    bool acceptEventArmed_ = false;  // guarded by eventLock_
    bool timingsChanged_ = false;    // guarded by eventLock_
    Startup startup_ = Startup::Pending;  // guarded by eventLock_
    EngineTimings timings_;               // guarded by eventLock_
    OperatorMessageSink operatorSink_;    // guarded by eventLock_
    std::atomic<std::uint64_t> failedAccepts_{0};
    std::atomic<std::uint64_t> listenerRounds_{0};

    mutable std::mutex drillLock_;
    std::shared_ptr<const EngineDrills> drills_;  // guarded by drillLock_

    // Accepted peers that have not sent their first message yet.
    mutable std::mutex pendingAcceptLock_;
    ConnectionList pendingPeers_;         // guarded by pendingAcceptLock_
    std::size_t outstandingAccepts_ = 0;  // guarded by pendingAcceptLock_
    bool accepting_ = false;              // guarded by pendingAcceptLock_
    std::size_t pendingLimitSet_ = 0;     // guarded by pendingAcceptLock_; 0: default
    // The descriptor limit (0: unknown) and what the process held at Start.
    std::size_t descriptorLimit_ = 0;     // guarded by pendingAcceptLock_
    std::size_t descriptorsAtStart_ = 0;  // guarded by pendingAcceptLock_

    mutable std::mutex connectionListLock_;
    ConnectionList connectionList_;  // guarded by connectionListLock_
    bool admitting_ = false;         // guarded by connectionListLock_

    std::atomic<std::uint64_t> nextSerial_{1};
};

}  // namespace dovrik
