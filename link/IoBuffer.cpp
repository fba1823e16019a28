#include "IoBuffer.h"

#include <cstring>
#include <new>

namespace dovrik {

BufferPool::BufferPool(std::size_t maxFree) : maxFree_(maxFree) {}

BufferPool::~BufferPool() {
    Clear();
}

IoBuffer* BufferPool::Take(int length) {
    if (length < 0 || length > IoBuffer::kCapacity) return nullptr;
    IoBuffer* buffer = nullptr;
    {
        std::lock_guard guard(lock_);
        if (free_ != nullptr) {
            buffer = free_;
            free_ = buffer->next;
            --freeCount_;
        }
    }
    if (buffer == nullptr) {
        buffer = new (std::nothrow) IoBuffer{};
        if (buffer == nullptr) return nullptr;
    }
    ++inUse_;
    buffer->next = nullptr;
    buffer->data = buffer->area;
    buffer->length = length;
    return buffer;
}

void BufferPool::Release(IoBuffer* buffer) {
    if (buffer == nullptr) return;
    --inUse_;
    // Only the bytes a transfer used can hold anything; the rest is still clear.
    const int used =
        buffer->length > 0 && buffer->length <= IoBuffer::kCapacity ? buffer->length : 0;
    std::memset(buffer->area, 0, static_cast<std::size_t>(used));
    buffer->data = nullptr;
    buffer->length = 0;
    buffer->sequence = 0;
    buffer->kind = 0;
    {
        std::lock_guard guard(lock_);
        if (freeCount_ <= maxFree_) {
            buffer->next = free_;
            free_ = buffer;
            ++freeCount_;
            return;
        }
    }
    delete buffer;
}

void BufferPool::Clear() {
    IoBuffer* list = nullptr;
    {
        std::lock_guard guard(lock_);
        list = free_;
        free_ = nullptr;
        freeCount_ = 0;
    }
    while (list != nullptr) {
        IoBuffer* next = list->next;
        delete list;
        list = next;
    }
}

void BufferPool::SetMaxFree(std::size_t maxFree) {
    std::lock_guard guard(lock_);
    maxFree_ = maxFree;
}

std::size_t BufferPool::FreeCount() const {
    std::lock_guard guard(lock_);
    return freeCount_;
}

}  // namespace dovrik
