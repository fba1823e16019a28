// One accepted terminal connection, and the bounded free list of records.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include "IoBuffer.h"
#include "LinkProtocol.h"
#include "ReceiveSequencer.h"

namespace dovrik {

struct Connection;
using ConnectionPtr = std::shared_ptr<Connection>;
using ConnectionList = std::list<ConnectionPtr>;

// The right to write one whole message to a connection: a lock that can be
// waited for until a deadline.
class SendTurn final {
  public:
    using Deadline = std::chrono::steady_clock::time_point;
    // False if another sender still holds the turn at the deadline.
    bool Take(Deadline deadline);
    void Give();

  private:
    std::mutex lock_;
    std::condition_variable free_;
    bool taken_ = false;  // guarded by lock_
};

struct Connection final {
    static constexpr std::size_t kReassemblySize = 8192;

    explicit Connection(asio::io_context& io) : socket(io) {}

    // Constant while the record is handed out.
    std::uint64_t serial = 0;  // the connection's identity in the indexes; never reused
    std::array<std::uint8_t, 16> localAddress{};
    std::array<std::uint8_t, 16> remoteAddress{};
    std::chrono::steady_clock::time_point acceptedAt{};

    // Held by a sender for the whole of one message, so that two senders'
    // bytes never interleave on the wire. Taken before `lock`, never under it.
    SendTurn sendTurn;

    std::mutex lock;
    asio::ip::tcp::socket socket;           // guarded by lock
    std::atomic<bool> closing{false};       // written under lock; read anywhere
    int pendingReceives = 0;                // guarded by lock
    int pendingSends = 0;                   // guarded by lock
    std::uint32_t nextReceiveSequence = 0;  // guarded by lock

    // Touched only by the completion of the connection's one outstanding receive.
    bool awaitingFirstData = true;
    ReceiveSequencer sequencer;
    StreamDecoder stream;  // what the receives after the registration carry
    // The device ID it registered as, and the last time written to its
    // record; set by the registration, which comes first.
    std::uint32_t registeredId = 0;
    std::uint32_t stampedAt = 0;
    std::unique_ptr<std::uint8_t[]> reassembly;  // allocated on first use
    std::size_t reassemblyRead = 0;
    std::size_t reassemblyWrite = 0;

    // Guarded by the server's connection-list lock.
    bool onConnectionList = false;
    ConnectionList::iterator connectionListPos;
    // Guarded by the server's pending-accept lock.
    bool onPendingList = false;
    ConnectionList::iterator pendingListPos;
};

class ConnectionPool final {
  public:
    ConnectionPool(asio::io_context& io, BufferPool& buffers, std::size_t maxFree);
    ~ConnectionPool();
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // A record that owns `socket`, or nullptr when memory is exhausted. The
    // record comes back to the pool when the last reference is dropped.
    ConnectionPtr Take(asio::ip::tcp::socket&& socket);
    void Clear();
    void SetMaxFree(std::size_t maxFree);
    std::size_t FreeCount() const;

  private:
    void Release(Connection* connection);

    asio::io_context& io_;
    BufferPool& buffers_;
    mutable std::mutex lock_;
    std::list<std::unique_ptr<Connection>> free_;  // guarded by lock_
    std::size_t maxFree_;                          // guarded by lock_
};

}  // namespace dovrik
