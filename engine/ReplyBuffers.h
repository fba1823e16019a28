// The bytes each terminal sent since the engine last cleared them: filled by
// the packet intake on the window thread, read by the worker. One lock around
// the whole table; it is never held across a sleep.
//
// Two bounds. A terminal whose reply a job awaits keeps up to kCapacity
// bytes, enough for the longest settings report (full number lists and three
// 400-byte texts come to about 13 KB, sent in several messages). Every other
// terminal keeps up to kIdleCapacity: no job reads those bytes before
// clearing them, so a chatty fleet must not hold 64 KiB per terminal. Past its
// bound a buffer drops its oldest half (at least as much as needed) and keeps
// the newest bytes. Nothing is reserved ahead: a buffer holds what arrived,
// so a group job over thousands of terminals costs each only its answer.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace pelmora {

class ReplyBuffers {
  public:
    static constexpr std::size_t kCapacity = 64 * 1024;
    static constexpr std::size_t kIdleCapacity = 8192;

    // Appends; when the bytes would pass the terminal's bound, the oldest
    // half of the bound goes (or more, when the new bytes need it).
    void Append(std::uint32_t deviceId, const std::uint8_t* data, std::size_t count);
    // Length back to 0, creating the entry when there is none. The terminal
    // becomes the only awaited one (a single job); those awaited before are
    // cut to the idle bound.
    void Reset(std::uint32_t deviceId);
    // Length back to 0; the terminal joins the awaited ones and the others
    // stay awaited (a group job awaits all of its terminals at once).
    void Await(std::uint32_t deviceId);
    // The terminal is no longer awaited: cut to the idle bound.
    void EndAwait(std::uint32_t deviceId);
    // The text so far, NUL bytes turned into blanks so searches see it all.
    std::string Snapshot(std::uint32_t deviceId) const;
    // The raw bytes so far; the length goes back to 0.
    std::vector<std::uint8_t> Take(std::uint32_t deviceId);
    std::size_t Length(std::uint32_t deviceId) const;

  private:
    void EndAwaitLocked(std::uint32_t deviceId);

    mutable std::mutex lock_;
    std::map<std::uint32_t, std::vector<std::uint8_t>> buffers_;  // guarded by lock_
    std::set<std::uint32_t> awaited_;                             // guarded by lock_
};

}  // namespace pelmora
