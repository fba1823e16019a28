#include "ReplyBuffers.h"

#include <algorithm>

namespace pelmora {

namespace {

// Keeps at most `bound` bytes: the oldest half of the bound goes, or more
// when that is not enough.
void MakeRoom(std::vector<std::uint8_t>& buffer, std::size_t incoming, std::size_t bound) {
    if (buffer.size() + incoming <= bound) return;
    const std::size_t drop =
        std::min(buffer.size(), std::max(bound / 2, buffer.size() + incoming - bound));
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(drop));
}

void AppendBounded(std::vector<std::uint8_t>& buffer, const std::uint8_t* data, std::size_t count,
                   std::size_t bound) {
    if (count > bound) {  // keep the newest bytes
        data += count - bound;
        count = bound;
    }
    MakeRoom(buffer, count, bound);
    buffer.insert(buffer.end(), data, data + count);
}

}  // namespace

void ReplyBuffers::Append(std::uint32_t deviceId, const std::uint8_t* data, std::size_t count) {
    if (data == nullptr || count == 0) return;
    std::lock_guard guard(lock_);
    const auto it = buffers_.find(deviceId);
    if (it == buffers_.end()) return;
    AppendBounded(it->second.fresh, data, count, kCapacity);
}

void ReplyBuffers::Watch(std::uint32_t deviceId) {
    std::lock_guard guard(lock_);
    buffers_.try_emplace(deviceId);
}

void ReplyBuffers::Unwatch(std::uint32_t deviceId) {
    std::lock_guard guard(lock_);
    buffers_.erase(deviceId);
}

void ReplyBuffers::MarkWrite(std::uint32_t deviceId) {
    std::lock_guard guard(lock_);
    const auto it = buffers_.find(deviceId);
    if (it == buffers_.end() || it->second.fresh.empty()) return;
    Entry& entry = it->second;
    AppendBounded(entry.stale, entry.fresh.data(), entry.fresh.size(), kStaleCapacity);
    entry.fresh.clear();
}

ReplyBuffers::Bytes ReplyBuffers::Take(std::uint32_t deviceId) {
    std::lock_guard guard(lock_);
    const auto it = buffers_.find(deviceId);
    if (it == buffers_.end()) return {};
    Bytes bytes{std::move(it->second.stale), std::move(it->second.fresh)};
    it->second.stale.clear();
    it->second.fresh.clear();
    return bytes;
}

std::size_t ReplyBuffers::Watched() const {
    std::lock_guard guard(lock_);
    return buffers_.size();
}

}  // namespace pelmora
