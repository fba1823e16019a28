// The bytes each terminal sent since the engine last cleared them: filled by
// the packet intake on the window thread, read by the worker. One lock around
// the whole table; it is never held across a sleep.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace pelmora {

class ReplyBuffers {
  public:
    static constexpr std::size_t kCapacity = 8192;
    static constexpr std::size_t kCut = 4096;

    // Appends; when the bytes would pass kCapacity, the oldest kCut bytes go.
    void Append(std::uint32_t deviceId, const std::uint8_t* data, std::size_t count);
    // Length back to 0, creating the entry when there is none.
    void Reset(std::uint32_t deviceId);
    // The text so far, NUL bytes turned into blanks so searches see it all.
    std::string Snapshot(std::uint32_t deviceId) const;
    // The raw bytes so far; the length goes back to 0.
    std::vector<std::uint8_t> Take(std::uint32_t deviceId);
    std::size_t Length(std::uint32_t deviceId) const;

  private:
    mutable std::mutex lock_;
    std::map<std::uint32_t, std::vector<std::uint8_t>> buffers_;  // guarded by lock_
};

}  // namespace pelmora
