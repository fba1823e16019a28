#include <gtest/gtest.h>

#include <vector>

#include "IoBuffer.h"
#include "ReceiveSequencer.h"

using dovrik::BufferPool;
using dovrik::IoBuffer;
using dovrik::ReceiveSequencer;

TEST(BufferPool, RefusesOversizedRequestsAndBoundsTheFreeList) {
    BufferPool pool(2);
    EXPECT_EQ(pool.Take(IoBuffer::kCapacity + 1), nullptr);
    std::vector<IoBuffer*> taken;
    for (int i = 0; i < 6; ++i) taken.push_back(pool.Take(IoBuffer::kCapacity));
    EXPECT_EQ(pool.InUse(), 6u);
    for (IoBuffer* b : taken) pool.Release(b);
    EXPECT_EQ(pool.InUse(), 0u);
    // Kept until more than the maximum are kept already.
    EXPECT_EQ(pool.FreeCount(), 3u);
    pool.Clear();
    EXPECT_EQ(pool.FreeCount(), 0u);
}

TEST(BufferPool, ReusedBuffersComeBackClean) {
    BufferPool pool(4);
    IoBuffer* b = pool.Take(100);
    b->data[0] = 0x55;
    b->length = 1;
    b->sequence = 9;
    pool.Release(b);
    IoBuffer* again = pool.Take(50);
    EXPECT_EQ(again, b);
    EXPECT_EQ(again->length, 50);
    EXPECT_EQ(again->sequence, 0u);
    EXPECT_EQ(again->data[0], 0);
    pool.Release(again);
}

TEST(ReceiveSequencer, DeliversEarlyCompletionsInPostedOrder) {
    BufferPool pool(8);
    ReceiveSequencer sequencer;
    std::vector<std::uint32_t> delivered;
    auto complete = [&](std::uint32_t sequence) {
        IoBuffer* b = pool.Take(10);
        b->sequence = sequence;
        sequencer.Complete(b, [&](IoBuffer* next) {
            delivered.push_back(next->sequence);
            pool.Release(next);
        });
    };
    complete(2);
    complete(1);
    EXPECT_TRUE(delivered.empty());
    complete(0);
    EXPECT_EQ(delivered, (std::vector<std::uint32_t>{0, 1, 2}));
    complete(4);
    complete(3);
    EXPECT_EQ(delivered, (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(sequencer.Expected(), 5u);
    EXPECT_EQ(sequencer.TakeAll(), nullptr);
    EXPECT_EQ(pool.InUse(), 0u);
}
