// Delivers a connection's completed receives in the order they were posted,
// holding back any that complete early until their turn comes.
#pragma once

#include <atomic>
#include <cstdint>

#include "IoBuffer.h"

namespace dovrik {

class ReceiveSequencer final {
  public:
    // Hands `completed`, and then every held-back buffer that is next in
    // sequence, to `deliver` in order. `deliver` takes ownership.
    template <class Deliver>
    void Complete(IoBuffer* completed, Deliver&& deliver) {
        IoBuffer* next = completed;
        if (completed->sequence != expected_.load()) {
            Insert(completed);
            next = TakeHeadIfExpected();
        }
        while (next != nullptr) {
            deliver(next);
            expected_.fetch_add(1);
            next = TakeHeadIfExpected();
        }
    }

    // Takes every held-back buffer off the list, for release.
    IoBuffer* TakeAll();
    void Reset();
    std::uint32_t Expected() const { return expected_.load(); }

  private:
    void Insert(IoBuffer* buffer);
    IoBuffer* TakeHeadIfExpected();

    std::atomic<std::uint32_t> expected_{0};
    // Sorted by ascending sequence. Only the completion of the connection's
    // one outstanding receive touches it, so it needs no lock.
    IoBuffer* waiting_ = nullptr;
};

}  // namespace dovrik
