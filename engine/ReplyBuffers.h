// The bytes the terminals sent that a conversation may still read: filled by
// the packet intake on the window thread, read by the worker. Only watched
// terminals keep bytes: those a conversation awaits, and those that still owe
// the answer to an abandoned frame. Every other terminal's bytes are dropped
// at once, so an idle fleet costs nothing here. One lock around the whole
// table; it is never held across a sleep.
//
// A watched terminal keeps up to kCapacity bytes, enough for the longest
// settings report (full number lists and three 400-byte texts come to about
// 13 KB, sent in several messages). Past it the oldest half goes.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pelmora {

class ReplyBuffers {
  public:
    static constexpr std::size_t kCapacity = 64 * 1024;
    static constexpr std::size_t kStaleCapacity = 8192;

    struct Bytes {
        std::vector<std::uint8_t> stale;  // arrived before the latest write
        std::vector<std::uint8_t> fresh;  // arrived after it
    };

    // Appends when the terminal is watched; drops the bytes otherwise.
    void Append(std::uint32_t deviceId, const std::uint8_t* data, std::size_t count);
    // The terminal's bytes are kept from now on.
    void Watch(std::uint32_t deviceId);
    // Its bytes are dropped, and so are the ones that come.
    void Unwatch(std::uint32_t deviceId);
    // Called on the writing thread just before a write: what arrived so far
    // cannot answer it and becomes stale (only an owed answer may be in it).
    void MarkWrite(std::uint32_t deviceId);
    // Everything kept so far, which is then cleared.
    Bytes Take(std::uint32_t deviceId);
    // Watched terminals, for the memory bound.
    std::size_t Watched() const;

  private:
    struct Entry {
        std::vector<std::uint8_t> stale;
        std::vector<std::uint8_t> fresh;
    };
    mutable std::mutex lock_;
    std::unordered_map<std::uint32_t, Entry> buffers_;  // guarded by lock_
};

}  // namespace pelmora
