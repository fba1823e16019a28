#include "Connection.h"

#include <new>

namespace dovrik {

bool SendTurn::Take(Deadline deadline) {
    std::unique_lock guard(lock_);
    if (!free_.wait_until(guard, deadline, [this] { return !taken_; })) return false;
    taken_ = true;
    return true;
}

void SendTurn::Give() {
    {
        std::lock_guard guard(lock_);
        taken_ = false;
    }
    free_.notify_one();
}

ConnectionPool::ConnectionPool(asio::io_context& io, BufferPool& buffers, std::size_t maxFree)
    : io_(io), buffers_(buffers), maxFree_(maxFree) {}

ConnectionPool::~ConnectionPool() {
    Clear();
}

ConnectionPtr ConnectionPool::Take(asio::ip::tcp::socket&& socket) {
    std::unique_ptr<Connection> record;
    {
        std::lock_guard guard(lock_);
        if (!free_.empty()) {
            record = std::move(free_.front());
            free_.pop_front();
        }
    }
    if (!record) {
        record.reset(new (std::nothrow) Connection(io_));
        if (!record) return nullptr;
    }
    record->socket = std::move(socket);
    record->reassemblyRead = 0;
    record->reassemblyWrite = 0;
    try {
        return ConnectionPtr(record.release(), [this](Connection* c) { Release(c); });
    } catch (const std::bad_alloc&) {
        return nullptr;  // the deleter has already taken the record back
    }
}

void ConnectionPool::Release(Connection* c) {
    asio::error_code ignored;
    if (c->socket.is_open()) c->socket.close(ignored);
    for (IoBuffer* b = c->sequencer.TakeAll(); b != nullptr;) {
        IoBuffer* next = b->next;
        buffers_.Release(b);
        b = next;
    }
    c->sequencer.Reset();
    c->stream.Reset();
    c->registeredId = 0;
    c->stampedAt = 0;
    c->serial = 0;
    c->localAddress = {};
    c->remoteAddress = {};
    c->acceptedAt = {};
    c->closing.store(false);
    c->pendingReceives = 0;
    c->pendingSends = 0;
    c->nextReceiveSequence = 0;
    c->awaitingFirstData = true;
    c->reassembly.reset();
    c->onConnectionList = false;
    c->onPendingList = false;
    std::unique_ptr<Connection> record(c);
    std::lock_guard guard(lock_);
    if (free_.size() <= maxFree_) free_.push_front(std::move(record));
}

void ConnectionPool::Clear() {
    std::list<std::unique_ptr<Connection>> doomed;
    {
        std::lock_guard guard(lock_);
        doomed.swap(free_);
    }
}

void ConnectionPool::SetMaxFree(std::size_t maxFree) {
    std::lock_guard guard(lock_);
    maxFree_ = maxFree;
}

std::size_t ConnectionPool::FreeCount() const {
    std::lock_guard guard(lock_);
    return free_.size();
}

}  // namespace dovrik
