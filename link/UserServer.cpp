#include "UserServer.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <utility>

#include "LinkProtocol.h"

namespace dovrik {

namespace {

constexpr std::size_t kNotFound = std::numeric_limits<std::size_t>::max();

}  // namespace

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
    terminals_.clear();
}

int CUserServer::GetNextData(_PACKET* packet) {
    if (packet == nullptr) return 0;
    std::lock_guard guard(queueLock_);
    if (queue_.empty()) return 0;
    std::memcpy(packet, &queue_.front(), sizeof(_PACKET));
    queue_.pop_front();
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
    const std::size_t count = EscapeForSend(data, length, wire.data());
    const SendResult result = Send(connection, wire.data(), count);
    if (result == SendResult::Sent) return 1;
    if (result == SendResult::TimedOut) {
        // The engine has closed the connection: a terminal that does not read
        // is gone, as if closed by its ID.
        std::lock_guard guard(indexLock_);
        ForgetTerminalLocked(deviceId, connection);
    }
    SetLastError(kErrorSendFailed);
    return 0;
}

int CUserServer::GetModemCount() const {
    std::lock_guard guard(terminalListLock_);
    return static_cast<int>(terminals_.size());
}

int CUserServer::GetModemByPosition(std::uint32_t position, ModemInfo* info) const {
    std::lock_guard guard(terminalListLock_);
    if (position >= terminals_.size() || info == nullptr) return 0;
    *info = terminals_[position].info;
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
    RemoveTerminalLocked(deviceId, connection->serial);
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

std::size_t CUserServer::FindTerminal(std::uint32_t deviceId, std::size_t hint) const {
    const std::size_t size = terminals_.size();
    if (size == 0) return kNotFound;
    const std::size_t start = std::min(hint, size - 1);
    for (std::size_t i = start + 1; i-- > 0;) {
        if (terminals_[i].info.deviceId == deviceId) return i;
    }
    for (std::size_t i = start + 1; i < size; ++i) {
        if (terminals_[i].info.deviceId == deviceId) return i;
    }
    return kNotFound;
}

void CUserServer::RemoveTerminalLocked(std::uint32_t deviceId, std::uint64_t socket) {
    std::size_t hint = kNotFound;
    if (auto entry = socketIndex_.find(socket); entry != socketIndex_.end()) {
        hint = entry->second.positionHint;
    }
    std::lock_guard guard(terminalListLock_);
    const std::size_t position = FindTerminal(deviceId, hint);
    if (position != kNotFound) terminals_.erase(terminals_.begin() + static_cast<long>(position));
}

void CUserServer::OnConnectionOpened(const ConnectionPtr& connection, IoBuffer* buffer) {
    const auto registration =
        ParseRegistration(buffer->data, static_cast<std::size_t>(buffer->length));
    if (!registration) {
        CloseConnection(connection);
        return;
    }
    TerminalRecord record{connection->serial, ModemInfo{}};
    record.info.deviceId = registration->deviceId;
    std::memcpy(record.info.simNumber, registration->simNumber.data(),
                sizeof record.info.simNumber);
    std::memcpy(record.info.ipAddress, registration->address.data(), sizeof record.info.ipAddress);
    record.info.loginTime = Now();
    record.info.lastUpdateTime = record.info.loginTime;

    const std::uint32_t id = registration->deviceId;
    std::lock_guard guard(indexLock_);
    // A connection the server closed meanwhile (its shutdown) never registers.
    if (connection->closing.load()) return;
    if (auto old = idIndex_.find(id); old != idIndex_.end()) {
        // A terminal that reconnects replaces its old connection.
        const ConnectionPtr previous = old->second;
        CloseConnection(previous);
        RemoveTerminalLocked(id, previous->serial);
        socketIndex_.erase(previous->serial);
        idIndex_.erase(old);
    }
    // The list and the ID index change together, so the list holds no record
    // of this ID any more.
    socketIndex_.erase(connection->serial);
    idIndex_[id] = connection;
    std::lock_guard listGuard(terminalListLock_);
    socketIndex_[connection->serial] = SocketEntry{id, terminals_.size()};
    terminals_.push_back(record);
}

void CUserServer::OnConnectionClosed(const ConnectionPtr& connection, IoBuffer*) {
    Forget(connection);
}

void CUserServer::OnConnectionFailed(const ConnectionPtr& connection, IoBuffer*, int) {
    Forget(connection);
}

void CUserServer::Forget(const ConnectionPtr& connection) {
    std::lock_guard guard(indexLock_);
    auto entry = socketIndex_.find(connection->serial);
    if (entry == socketIndex_.end()) return;
    const std::uint32_t id = entry->second.deviceId;
    if (auto it = idIndex_.find(id); it != idIndex_.end() && it->second == connection) {
        // A newer registration of the same ID on another connection stays.
        RemoveTerminalLocked(id, connection->serial);
        idIndex_.erase(it);
    }
    socketIndex_.erase(connection->serial);
}

void CUserServer::OnReadDone(const ConnectionPtr& connection, IoBuffer* buffer) {
    std::uint32_t id = 0;
    const std::uint32_t now = Now();
    {
        std::lock_guard guard(indexLock_);
        auto entry = socketIndex_.find(connection->serial);
        if (entry == socketIndex_.end()) return;
        id = entry->second.deviceId;
        std::lock_guard listGuard(terminalListLock_);
        const std::size_t position = FindTerminal(id, entry->second.positionHint);
        if (position != kNotFound) {
            terminals_[position].info.lastUpdateTime = now;
            entry->second.positionHint = position;
        }
    }
    _PACKET packet;
    if (!MakePacket(id, now, buffer->data, static_cast<std::size_t>(buffer->length), packet)) {
        return;
    }

    std::lock_guard guard(queueLock_);
    if (queue_.size() > queueLimit_) return;
    queue_.push_back(packet);
}

void CUserServer::OnWriteDone(const ConnectionPtr&, IoBuffer*) {}

bool CUserServer::CheckFrames(const ConnectionPtr& connection, IoBuffer*) {
    // Reports whether the connection's reassembly area holds unread bytes.
    // The area is only allocated once something writes to it.
    return connection->reassembly != nullptr &&
           connection->reassemblyRead < connection->reassemblyWrite;
}

}  // namespace dovrik
