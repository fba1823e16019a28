#include "UserServer.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "LinkProtocol.h"

namespace dovrik {

std::uint32_t CUserServer::Now() const {
    return timeSource_ ? timeSource_() : static_cast<std::uint32_t>(std::time(nullptr));
}

void CUserServer::SetTimeSource(TimeSource source) {
    timeSource_ = std::move(source);
}

CUserServer::~CUserServer() {
    StopService();
}

void CUserServer::ApplyEnvironment() {
    // How long one send may wait for a terminal that does not read: a knob
    // for sites with slow links, and for tests that must not wait 5 s.
    const char* text = std::getenv("DOVRIK_SEND_TIMEOUT_MS");
    if (text == nullptr) return;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value <= 0 || value > 3'600'000) return;
    EngineTimings timings = Timings();
    timings.sendTimeout = std::chrono::milliseconds(value);
    SetTimings(timings);
}

int CUserServer::StartService(std::uint16_t port) {
    if (IsStarted()) {
        SetLastError(kErrorServerStarted);
        return 0;
    }
    ApplyEnvironment();
    switch (Start(port, kFreeBuffersKept, kFreeConnectionsKept)) {
        case StartResult::Started:
            return 1;
        case StartResult::AlreadyStarted:
            SetLastError(kErrorServerStarted);
            return 0;
        case StartResult::ThreadFailed:
            SetLastError(kErrorThreadFailed);
            return 0;
        case StartResult::BindFailed:
            break;
    }
    SetLastError(kErrorBindFailed);
    return 0;
}

void CUserServer::StopService() {
    if (!IsStarted()) return;
    Stop();
    ClearTables();
}

void CUserServer::ClearTables() {
    std::lock_guard indexGuard(indexLock_);
    idIndex_.clear();
    socketIndex_.clear();
    std::lock_guard listGuard(terminalListLock_);
    terminals_.Clear();
}

int CUserServer::GetNextData(_PACKET* packet) {
    if (packet == nullptr) return 0;
    QueuedPacket next;
    {
        // The lock is held for moves only, never for a copy: the workers
        // that queue must not wait behind the caller that takes.
        std::lock_guard guard(queueLock_);
        if (queue_.empty()) return 0;
        next = std::move(queue_.front());
        queue_.pop_front();
    }
    packet->deviceId = next.deviceId;
    packet->receiveTime = next.receiveTime;
    std::memcpy(packet->data, next.data.get(), next.length);
    // Every byte past the data is zero: the caller's buffer must not keep
    // what an earlier packet, of this terminal or another, left in it.
    std::memset(packet->data + next.length, 0, sizeof packet->data - next.length);
    packet->length = static_cast<std::uint16_t>(next.length);
    packet->valid = 1;
    std::memset(packet->reserved, 0, sizeof packet->reserved);
    std::lock_guard guard(queueLock_);
    KeepSpareLocked(std::move(next.data));
    return 1;
}

int CUserServer::SendData(std::uint32_t deviceId, std::uint16_t length, const std::uint8_t* data) {
    ConnectionPtr connection;
    {
        std::lock_guard guard(indexLock_);
        if (auto it = idIndex_.find(deviceId); it != idIndex_.end()) connection = it->second;
    }
    if (!connection) {
        SetLastError(kErrorModemBroken);
        return 0;
    }
    if (data == nullptr && length > 0) {
        SetLastError(kErrorSendFailed);
        return 0;
    }
    std::array<std::uint8_t, kMaxWireMessage> wire{};
    const auto count = EscapeForSend(data, length, wire.data());
    if (!count) {
        // Longer than a terminal takes in one message: nothing is sent,
        // rather than a cut message reported as sent.
        SetLastError(kErrorSendFailed);
        return 0;
    }
    const SendResult result = Send(connection, wire.data(), *count);
    if (result == SendResult::Sent) return 1;
    if (result == SendResult::TimedOut) {
        // Part of the message went out and the engine has closed the
        // connection: a terminal that does not read is gone, as if closed by
        // its ID.
        std::lock_guard guard(indexLock_);
        ForgetTerminalLocked(deviceId, connection);
    }
    SetLastError(kErrorSendFailed);
    return 0;
}

int CUserServer::GetModemCount() const {
    std::lock_guard guard(terminalListLock_);
    return static_cast<int>(terminals_.Size());
}

int CUserServer::GetModemByPosition(std::uint32_t position, ModemInfo* info) const {
    std::lock_guard guard(terminalListLock_);
    const ModemInfo* entry = terminals_.At(position);
    if (entry == nullptr || info == nullptr) return 0;
    *info = *entry;
    return 1;
}

void CUserServer::CloseConnectionByDeviceId(std::uint32_t deviceId) {
    std::lock_guard guard(indexLock_);
    auto it = idIndex_.find(deviceId);
    if (it == idIndex_.end()) return;
    const ConnectionPtr connection = it->second;
    CloseConnection(connection);
    ForgetTerminalLocked(deviceId, connection);
}

void CUserServer::ForgetTerminalLocked(std::uint32_t deviceId, const ConnectionPtr& connection) {
    auto it = idIndex_.find(deviceId);
    if (it == idIndex_.end() || it->second != connection) return;
    RemoveTerminalLocked(connection->serial);
    socketIndex_.erase(connection->serial);
    idIndex_.erase(it);
}

void CUserServer::CopyLastError(char* buffer, int size) const {
    if (buffer == nullptr || size <= 0) return;
    std::lock_guard guard(lastErrorLock_);
    const std::size_t copied = std::min(lastError_.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, lastError_.data(), copied);
    buffer[copied] = '\0';
    buffer[size - 1] = '\0';
}

void CUserServer::SetLastError(std::string_view text) {
    std::lock_guard guard(lastErrorLock_);
    lastError_.assign(text);
}

void CUserServer::SetQueueLimit(std::size_t limit) {
    std::lock_guard guard(queueLock_);
    queueLimit_ = limit;
}

std::size_t CUserServer::QueuedCount() const {
    std::lock_guard guard(queueLock_);
    return queue_.size();
}

void CUserServer::RemoveTerminalLocked(std::uint64_t socket) {
    std::lock_guard guard(terminalListLock_);
    terminals_.Remove(socket);
}

void CUserServer::OnConnectionOpened(const ConnectionPtr& connection, IoBuffer* buffer) {
    const auto registration =
        ParseRegistration(buffer->data, static_cast<std::size_t>(buffer->length));
    if (!registration) {
        CloseConnection(connection);
        return;
    }
    ModemInfo info{};
    info.deviceId = registration->deviceId;
    std::memcpy(info.simNumber, registration->simNumber.data(), sizeof info.simNumber);
    std::memcpy(info.ipAddress, registration->address.data(), sizeof info.ipAddress);
    info.loginTime = Now();
    info.lastUpdateTime = info.loginTime;

    const std::uint32_t id = registration->deviceId;
    std::lock_guard guard(indexLock_);
    // A connection the server closed meanwhile (its shutdown) never registers.
    if (connection->closing.load()) return;
    if (auto old = idIndex_.find(id); old != idIndex_.end()) {
        // A terminal that reconnects replaces its old connection.
        const ConnectionPtr previous = old->second;
        CloseConnection(previous);
        RemoveTerminalLocked(previous->serial);
        socketIndex_.erase(previous->serial);
        idIndex_.erase(old);
    }
    // The list and the ID index change together, so the list holds no record
    // of this ID any more.
    idIndex_[id] = connection;
    socketIndex_[connection->serial] = id;
    connection->registeredId = id;
    connection->stampedAt = info.lastUpdateTime;
    std::lock_guard listGuard(terminalListLock_);
    terminals_.Append(connection->serial, info);
}

void CUserServer::OnConnectionClosed(const ConnectionPtr& connection, IoBuffer*) {
    Forget(connection);
}

void CUserServer::OnConnectionFailed(const ConnectionPtr& connection, IoBuffer*, int) {
    Forget(connection);
}

void CUserServer::Forget(const ConnectionPtr& connection) {
    std::uint32_t id = 0;
    {
        std::lock_guard guard(indexLock_);
        auto entry = socketIndex_.find(connection->serial);
        if (entry == socketIndex_.end()) return;
        id = entry->second;
        if (auto it = idIndex_.find(id); it != idIndex_.end() && it->second == connection) {
            // A newer registration of the same ID on another connection stays.
            RemoveTerminalLocked(connection->serial);
            idIndex_.erase(it);
        }
        socketIndex_.erase(entry);
    }
    // A stray escape byte that ended the stream is the last byte of its message.
    std::uint8_t held = 0;
    if (connection->stream.Flush(&held) == 0) return;
    QueuedPacket last{id, Now(), 1, std::make_unique_for_overwrite<std::uint8_t[]>(kMaxPacketData)};
    last.data[0] = held;
    std::lock_guard guard(queueLock_);
    PushLocked(&last, 1);
}

void CUserServer::OnReadDone(const ConnectionPtr& connection, IoBuffer* buffer) {
    const std::uint32_t now = Now();
    std::uint32_t id = connection->registeredId;
    // The table is looked at once a second per terminal at most: within the
    // second its time stands, and a connection that left it is closing.
    if (connection->stampedAt != now || connection->closing.load()) {
        std::lock_guard guard(indexLock_);
        auto entry = socketIndex_.find(connection->serial);
        if (entry == socketIndex_.end()) return;
        id = entry->second;
        std::lock_guard listGuard(terminalListLock_);
        if (ModemInfo* info = terminals_.Find(connection->serial)) info->lastUpdateTime = now;
        connection->stampedAt = now;
    }
    QueueReceived(*connection, id, now, buffer->data, static_cast<std::size_t>(buffer->length));
}

void CUserServer::QueueReceived(Connection& connection, std::uint32_t deviceId,
                                std::uint32_t receiveTime, const std::uint8_t* wire,
                                std::size_t count) {
    // A receive decodes to at most count + 1 bytes, and each packet but the
    // last holds at least kMaxPacketData - 1 of them.
    constexpr std::size_t kMostPackets =
        (IoBuffer::kCapacity + 1 + kMaxPacketData - 2) / (kMaxPacketData - 1);
    std::array<QueuedPacket, kMostPackets> batch;
    const std::size_t needed =
        std::min(batch.size(), (count + 1 + kMaxPacketData - 2) / (kMaxPacketData - 1));
    {
        std::lock_guard guard(queueLock_);
        for (std::size_t i = 0; i < needed && !spareData_.empty(); ++i) {
            batch[i].data = std::move(spareData_.back());
            spareData_.pop_back();
        }
    }
    // Decoded straight into the packets, outside the lock.
    std::size_t packets = 0;
    std::size_t used = 0;
    while (used < count && packets < batch.size()) {
        QueuedPacket& packet = batch[packets];
        if (!packet.data)
            packet.data = std::make_unique_for_overwrite<std::uint8_t[]>(kMaxPacketData);
        const auto step =
            connection.stream.Decode(wire + used, count - used, packet.data.get(), kMaxPacketData);
        used += step.consumed;
        if (step.produced == 0) continue;
        packet.deviceId = deviceId;
        packet.receiveTime = receiveTime;
        packet.length = step.produced;
        ++packets;
    }
    std::lock_guard guard(queueLock_);
    PushLocked(batch.data(), packets);
    for (QueuedPacket& unused : batch) KeepSpareLocked(std::move(unused.data));
}

void CUserServer::PushLocked(QueuedPacket* packets, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (queue_.size() > queueLimit_) {
            KeepSpareLocked(std::move(packets[i].data));
        } else {
            queue_.push_back(std::move(packets[i]));
        }
    }
}

void CUserServer::OnWriteDone(const ConnectionPtr&, IoBuffer*) {}

bool CUserServer::CheckFrames(const ConnectionPtr& connection, IoBuffer*) {
    // Reports whether the connection's reassembly area holds unread bytes.
    // The area is only allocated once something writes to it.
    return connection->reassembly != nullptr &&
           connection->reassemblyRead < connection->reassemblyWrite;
}

void CUserServer::KeepSpareLocked(std::unique_ptr<std::uint8_t[]> data) {
    if (data && spareData_.size() < kSpareDataKept) spareData_.push_back(std::move(data));
}

}  // namespace dovrik
