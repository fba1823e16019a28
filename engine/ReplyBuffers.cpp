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

}  // namespace

std::size_t ReplyBuffers::BoundOf(std::uint32_t deviceId) const {
    return awaited_ == deviceId ? kCapacity : kIdleCapacity;
}

void ReplyBuffers::Append(std::uint32_t deviceId, const std::uint8_t* data, std::size_t count) {
    if (data == nullptr || count == 0) return;
    std::lock_guard guard(lock_);
    const std::size_t bound = BoundOf(deviceId);
    if (count > bound) {  // never from the intake; keep the newest bytes
        data += count - bound;
        count = bound;
    }
    auto& buffer = buffers_[deviceId];
    if (buffer.capacity() < kIdleCapacity) buffer.reserve(kIdleCapacity);
    MakeRoom(buffer, count, bound);
    buffer.insert(buffer.end(), data, data + count);
}

void ReplyBuffers::Reset(std::uint32_t deviceId) {
    std::lock_guard guard(lock_);
    if (awaited_ && *awaited_ != deviceId) {
        // The reply it may have grown for is no longer read: back to the
        // idle bound, and its memory with it.
        const auto previous = buffers_.find(*awaited_);
        if (previous != buffers_.end() && previous->second.capacity() > kIdleCapacity) {
            std::vector<std::uint8_t>& old = previous->second;
            MakeRoom(old, 0, kIdleCapacity);
            std::vector<std::uint8_t> kept;
            kept.reserve(kIdleCapacity);
            kept.assign(old.begin(), old.end());
            old.swap(kept);
        }
    }
    awaited_ = deviceId;
    buffers_[deviceId].clear();
}

std::string ReplyBuffers::Snapshot(std::uint32_t deviceId) const {
    std::lock_guard guard(lock_);
    const auto it = buffers_.find(deviceId);
    if (it == buffers_.end()) return {};
    std::string text(it->second.begin(), it->second.end());
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

std::vector<std::uint8_t> ReplyBuffers::Take(std::uint32_t deviceId) {
    std::lock_guard guard(lock_);
    auto& buffer = buffers_[deviceId];
    std::vector<std::uint8_t> bytes(buffer.begin(), buffer.end());
    buffer.clear();
    return bytes;
}

std::size_t ReplyBuffers::Length(std::uint32_t deviceId) const {
    std::lock_guard guard(lock_);
    const auto it = buffers_.find(deviceId);
    return it == buffers_.end() ? 0 : it->second.size();
}

}  // namespace pelmora
