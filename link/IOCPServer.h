// The connection engine: accepts terminal connections on one port, receives
// on all of them with four worker threads, and reports every event to the
// hooks that a derived class implements. Sending bypasses the engine's
// completion side: SendBlocking writes straight to the connection's socket.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
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
};

// Where the two operator messages of an internal failure go. The library has
// no window, so by default they are written to standard error.
using OperatorMessageSink = std::function<void(const std::string&)>;

inline constexpr char kWorkerExitMessage[] =
    "GetQueuedCompletionStatus() return,WorkThread exit,dwkey==0";
inline constexpr char kEngineFailureMessage[] =
    "An Error Occur in IOCP !!! pls close the d2a and reopen again";

class CIOCPServer {
  public:
    static constexpr int kWorkerThreads = 4;
    static constexpr int kListenBacklog = 200;
    static constexpr int kFirstReceiveLength = IoBuffer::kCapacity - 64;

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

    // Binds and listens on all local addresses and starts the listener thread.
    // False when the port cannot be bound or listened on; nothing then runs.
    bool Start(std::uint16_t port, std::size_t maxFreeBuffers, std::size_t maxFreeConnections);
    // Signals the listener and waits for it to close everything and end.
    void Stop();
    // True from a successful Start until Stop, also after the engine shut
    // itself down because a worker ended.
    bool IsStarted() const { return started_; }

    // Removes the connection from the live list, closes its socket at once
    // (the peer sees a reset) and marks it closing, so no hook runs for it.
    void CloseConnection(const ConnectionPtr& connection);
    // Writes all bytes to the connection's socket, waiting for room as long as
    // the connection stays open. False if it is closing or the send fails.
    bool SendBlocking(const ConnectionPtr& connection, const std::uint8_t* data,
                      std::size_t length);

    void SetTimings(const EngineTimings& timings);
    void SetOperatorMessageSink(OperatorMessageSink sink);
    // The port actually bound by the last successful Start.
    std::uint16_t LocalPort() const { return boundPort_.load(); }
    std::size_t PendingPeerCount() const;
    std::size_t OpenConnectionCount() const;
    std::size_t OutstandingAccepts() const;
    std::size_t BuffersInUse() const { return buffers_.InUse(); }
    // Fault drill: makes one worker thread end as if the completion mechanism
    // had failed under it.
    void InjectWorkerFault();

  protected:
    void ShowOperatorMessage(const std::string& text);

  private:
    struct WorkerFault {};

    void ListenerMain();
    void WorkerMain();
    void ShutDown();

    void PostAccepts(int count);
    void ArmAcceptEvent();
    void OnAcceptDone(const asio::error_code& error, asio::ip::tcp::socket socket);
    bool PostReceive(const ConnectionPtr& connection,
                     std::optional<std::uint32_t> stillOutstanding = std::nullopt);
    void OnReceiveReady(const ConnectionPtr& connection, std::uint32_t sequence,
                        const asio::error_code& error);
    // Reads one message, or waits again if there is none yet.
    void Receive(const ConnectionPtr& connection, std::uint32_t sequence, asio::error_code error);
    void SignalRepost();
    void OpenConnection(const ConnectionPtr& connection, IoBuffer* firstData);
    void DropPendingPeer(const ConnectionPtr& connection);
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

    // The listener's wake-up: accept event, re-post counter, ended workers.
    mutable std::mutex eventLock_;
    std::condition_variable eventSignal_;
    bool stopFlag_ = false;             // guarded by eventLock_
    bool acceptEvent_ = false;          // guarded by eventLock_
    int repostCounter_ = 0;             // guarded by eventLock_
    int workersEnded_ = 0;              // guarded by eventLock_
    bool acceptStarved_ = false;        // guarded by eventLock_
    EngineTimings timings_;             // guarded by eventLock_
    OperatorMessageSink operatorSink_;  // guarded by eventLock_

    // Accepted peers that have not sent their first message yet.
    mutable std::mutex pendingAcceptLock_;
    ConnectionList pendingPeers_;         // guarded by pendingAcceptLock_
    std::size_t outstandingAccepts_ = 0;  // guarded by pendingAcceptLock_
    bool accepting_ = false;              // guarded by pendingAcceptLock_

    mutable std::mutex connectionListLock_;
    ConnectionList connectionList_;  // guarded by connectionListLock_
    bool admitting_ = false;         // guarded by connectionListLock_

    std::atomic<std::uint64_t> nextSerial_{1};
};

}  // namespace dovrik
