#include "ReceiveSequencer.h"

namespace dovrik {

void ReceiveSequencer::Insert(IoBuffer* buffer) {
    IoBuffer** link = &waiting_;
    while (*link != nullptr && (*link)->sequence <= buffer->sequence) link = &(*link)->next;
    buffer->next = *link;
    *link = buffer;
}

IoBuffer* ReceiveSequencer::TakeHeadIfExpected() {
    if (waiting_ == nullptr || waiting_->sequence != expected_.load()) return nullptr;
    IoBuffer* head = waiting_;
    waiting_ = head->next;
    head->next = nullptr;
    return head;
}

IoBuffer* ReceiveSequencer::TakeAll() {
    IoBuffer* all = waiting_;
    waiting_ = nullptr;
    return all;
}

void ReceiveSequencer::Reset() {
    expected_.store(0);
    waiting_ = nullptr;
}

}  // namespace dovrik
