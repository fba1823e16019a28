#include "ReplyBuffers.h"

#include <algorithm>

namespace pelmora {

void ReplyBuffers::Append(std::uint32_t deviceId, const std::uint8_t* data, std::size_t count) {
    if (data == nullptr || count == 0) return;
    if (count > kCapacity) {  // never from the intake; keep the newest bytes
        data += count - kCapacity;
        count = kCapacity;
    }
    std::lock_guard guard(lock_);
    auto& buffer = buffers_[deviceId];
    if (buffer.capacity() < kCapacity) buffer.reserve(kCapacity);
    if (buffer.size() + count > kCapacity) {
        const std::size_t drop =
            std::min(buffer.size(), std::max(kCut, buffer.size() + count - kCapacity));
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(drop));
    }
    buffer.insert(buffer.end(), data, data + count);
}

void ReplyBuffers::Reset(std::uint32_t deviceId) {
    std::lock_guard guard(lock_);
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
