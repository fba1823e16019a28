// One socket operation's buffer, and the bounded free list that recycles them
// so that steady traffic allocates nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace dovrik {

enum IoKind : int { OP_ACCEPT = 1, OP_SEND = 2, OP_RECEIVE = 3 };

struct IoBuffer {
    static constexpr int kCapacity = 8192;

    std::uint8_t* data = nullptr;  // points at area
    int length = 0;                // requested length, then the bytes transferred
    std::uint32_t sequence = 0;    // receive sequence number of the connection
    int kind = 0;
    IoBuffer* next = nullptr;  // free list or a connection's out-of-order list
    std::uint8_t area[kCapacity];
};

class BufferPool final {
  public:
    explicit BufferPool(std::size_t maxFree);
    ~BufferPool();
    BufferPool(const BufferPool&) = delete;
    BufferPool& operator=(const BufferPool&) = delete;

    // A buffer with `length` usable bytes, or nullptr when length exceeds
    // IoBuffer::kCapacity or memory is exhausted.
    IoBuffer* Take(int length);
    // Keeps the buffer for reuse unless more than the maximum are kept already.
    void Release(IoBuffer* buffer);
    // Frees every kept buffer.
    void Clear();
    void SetMaxFree(std::size_t maxFree);
    std::size_t FreeCount() const;
    // Buffers handed out and not yet released.
    std::size_t InUse() const { return inUse_.load(); }

  private:
    std::atomic<std::size_t> inUse_{0};
    mutable std::mutex lock_;
    IoBuffer* free_ = nullptr;   // guarded by lock_
    std::size_t freeCount_ = 0;  // guarded by lock_
    std::size_t maxFree_;        // guarded by lock_
};

}  // namespace dovrik
