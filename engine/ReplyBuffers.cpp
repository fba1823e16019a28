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

void ReplyBuffers::Append(std::uint32_t deviceId, const std::uint8_t* data, std::size_t count) {
    if (data == nullptr || count == 0) return;
    std::lock_guard guard(lock_);
    const std::size_t bound = awaited_.count(deviceId) != 0 ? kCapacity : kIdleCapacity;
    if (count > bound) {  // never from the intake; keep the newest bytes
        data += count - bound;
        count = bound;
    }
    auto& buffer = buffers_[deviceId];
    MakeRoom(buffer, count, bound);
    buffer.insert(buffer.end(), data, data + count);
}

void ReplyBuffers::EndAwaitLocked(std::uint32_t deviceId) {
    if (awaited_.erase(deviceId) == 0) return;
    const auto it = buffers_.find(deviceId);
    if (it == buffers_.end() || it->second.capacity() <= kIdleCapacity) return;
    // The reply it may have grown for is no longer read: back to the idle
    // bound, and its memory with it.
    std::vector<std::uint8_t>& old = it->second;
    MakeRoom(old, 0, kIdleCapacity);
    std::vector<std::uint8_t>(old.begin(), old.end()).swap(old);
}

void ReplyBuffers::Reset(std::uint32_t deviceId) {
    std::lock_guard guard(lock_);
    for (auto it = awaited_.begin(); it != awaited_.end();) {
        const std::uint32_t other = *it++;  // past it before it is erased
        if (other != deviceId) EndAwaitLocked(other);
    }
    awaited_.insert(deviceId);
    buffers_[deviceId].clear();
}

void ReplyBuffers::Await(std::uint32_t deviceId) {
    std::lock_guard guard(lock_);
    awaited_.insert(deviceId);
    buffers_[deviceId].clear();
}

void ReplyBuffers::EndAwait(std::uint32_t deviceId) {
    std::lock_guard guard(lock_);
    EndAwaitLocked(deviceId);
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
