// The terminal server: registration, heartbeat and data on top of the
// connection engine, the table of registered terminals and the queue of
// received messages, and the operations behind the DS functions.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Dovrik.h"
#include "IOCPServer.h"
#include "TerminalTable.h"

namespace dovrik {

// The last-error texts, GBK bytes (the full-width mark is 0xA3 0xA1).
inline constexpr char kErrorServerStarted[] = "Server has started!";
inline constexpr char kErrorBindFailed[] = "Binding socket failed\xA3\xA1";
inline constexpr char kErrorModemBroken[] = "The connection with modem has broken\xA3\xA1";
inline constexpr char kErrorSendFailed[] = "Send failed!";
inline constexpr char kErrorThreadFailed[] = "Create thread failed!";

class CUserServer : public CIOCPServer {
  public:
    static constexpr std::size_t kDefaultQueueLimit = 65000;
    static constexpr std::size_t kFreeBuffersKept = 200;
    static constexpr std::size_t kFreeConnectionsKept = 100;
    static constexpr std::size_t kSpareDataKept = 8192;

    CUserServer() = default;
    ~CUserServer() override;

    // The DS operations, with their results.
    int StartService(std::uint16_t port);
    void StopService();
    int GetNextData(_PACKET* packet);
    int SendData(std::uint32_t deviceId, std::uint16_t length, const std::uint8_t* data);
    int GetModemCount() const;
    int GetModemByPosition(std::uint32_t position, ModemInfo* info) const;
    void CloseConnectionByDeviceId(std::uint32_t deviceId);
    void CopyLastError(char* buffer, int size) const;

    // The time source for login, update and receive times; set it before
    // StartService. The default is the system clock, seconds since 1970.
    using TimeSource = std::function<std::uint32_t()>;
    void SetTimeSource(TimeSource source);

    // A packet is dropped when more than this many are waiting.
    void SetQueueLimit(std::size_t limit);
    std::size_t QueuedCount() const;

    void OnConnectionOpened(const ConnectionPtr& connection, IoBuffer* buffer) override;
    void OnConnectionClosed(const ConnectionPtr& connection, IoBuffer* buffer) override;
    void OnConnectionFailed(const ConnectionPtr& connection, IoBuffer* buffer, int error) override;
    void OnReadDone(const ConnectionPtr& connection, IoBuffer* buffer) override;
    void OnWriteDone(const ConnectionPtr& connection, IoBuffer* buffer) override;
    bool CheckFrames(const ConnectionPtr& connection, IoBuffer* buffer) override;
    virtual void OnSpareHook(std::uint32_t value) = 0;

  private:
    // A received packet as it waits: its bytes only, not the 4112 of a _PACKET.
    struct QueuedPacket {
        std::uint32_t deviceId = 0;
        std::uint32_t receiveTime = 0;
        std::size_t length = 0;                // 1 to kMaxPacketData
        std::unique_ptr<std::uint8_t[]> data;  // kMaxPacketData bytes of room
    };

    void SetLastError(std::string_view text);
    // DOVRIK_SEND_TIMEOUT_MS, when set to a whole number of milliseconds
    // (1 to 3,600,000), replaces the send's time limit.
    void ApplyEnvironment();
    void Forget(const ConnectionPtr& connection);
    // Removes the terminal from the list and both indexes, if it is still
    // registered on `connection`. Requires the index lock.
    void ForgetTerminalLocked(std::uint32_t deviceId, const ConnectionPtr& connection);
    void ClearTables();
    // Requires the index lock; takes the terminal-list lock.
    void RemoveTerminalLocked(std::uint64_t socket);
    // Decodes what one receive brought and queues it in packets of at most
    // kMaxPacketData bytes.
    void QueueReceived(Connection& connection, std::uint32_t deviceId, std::uint32_t receiveTime,
                       const std::uint8_t* wire, std::size_t count);
    // Appends packets to the queue, dropping those past its limit. Requires
    // queueLock_.
    void PushLocked(QueuedPacket* packets, std::size_t count);
    // Keeps a packet buffer for reuse, if there is one and room for it.
    // Requires queueLock_.
    void KeepSpareLocked(std::unique_ptr<std::uint8_t[]> data);

    // Lock order: indexLock_ before terminalListLock_; queueLock_ alone.
    mutable std::mutex indexLock_;
    std::unordered_map<std::uint32_t, ConnectionPtr> idIndex_;  // guarded by indexLock_
    // Connection serial -> the device ID it registered as.
    std::unordered_map<std::uint64_t, std::uint32_t> socketIndex_;  // guarded by indexLock_

    mutable std::mutex terminalListLock_;
    TerminalTable terminals_;  // guarded by terminalListLock_, keyed by connection serial

    mutable std::mutex queueLock_;
    std::deque<QueuedPacket> queue_;  // guarded by queueLock_
    // Buffers of packets taken, for the next packets: steady traffic then
    // allocates nothing. At most kSpareDataKept (32 MiB) stay after a burst.
    std::vector<std::unique_ptr<std::uint8_t[]>> spareData_;  // guarded by queueLock_
    std::size_t queueLimit_ = kDefaultQueueLimit;             // guarded by queueLock_

    std::uint32_t Now() const;

    TimeSource timeSource_;  // set before the service starts

    mutable std::mutex lastErrorLock_;
    std::string lastError_;  // guarded by lastErrorLock_
};

}  // namespace dovrik
