// The accept side of the connection engine: accepts posted on the listening
// socket, the accept event, running out of descriptors, and the peers that
// have connected but not yet sent their first message (see IOCPServer.cpp
// for how it sits on Asio).
#include <algorithm>
#include <iterator>
#include <utility>

#include "IOCPServer.h"
#include "platform/SocketPlatform.h"

namespace dovrik {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

void CIOCPServer::PostAccepts(int count) {
    const std::uint64_t run = run_.load();
    for (int i = 0; i < count; ++i) {
        {
            std::lock_guard guard(pendingAcceptLock_);
            if (!accepting_ || outstandingAccepts_ >= kMaxOutstandingAccepts) return;
            ++outstandingAccepts_;
        }
        acceptor_.async_accept([this, run](const asio::error_code& error, tcp::socket socket) {
            OnAcceptDone(run, error, std::move(socket));
        });
    }
}

void CIOCPServer::PostProbeAccept() {
    {
        std::lock_guard guard(pendingAcceptLock_);
        if (outstandingAccepts_ > 0) return;  // one already waits for a peer
    }
    PostAccepts(1);
}

void CIOCPServer::ArmAcceptEvent() {
    {
        std::lock_guard guard(eventLock_);
        if (acceptEventArmed_) return;
        acceptEventArmed_ = true;
    }
    const std::uint64_t run = run_.load();
    acceptor_.async_wait(tcp::acceptor::wait_read, [this, run](const asio::error_code& error) {
        if (IsStale(run)) return;
        {
            std::lock_guard guard(eventLock_);
            acceptEventArmed_ = false;
            if (error) return;
            acceptEvent_ = true;
        }
        eventSignal_.notify_all();
    });
}

void CIOCPServer::OnAcceptDone(std::uint64_t run, const asio::error_code& error,
                               tcp::socket socket) {
    if (IsStale(run)) return;
    {
        std::lock_guard guard(pendingAcceptLock_);
        --outstandingAccepts_;
    }
    if (error) {
        if (error != asio::error::operation_aborted) OnAcceptFailed(error);
        return;
    }
    asio::error_code ignored;
    platform::SetAbortiveClose(socket.native_handle());
    // Each send is one whole message: it goes out at once instead of waiting
    // behind the acknowledgement of the previous one.
    socket.set_option(tcp::no_delay(true), ignored);
    socket.non_blocking(true, ignored);
    if (ConnectionPtr connection = connections_.Take(std::move(socket))) {
        connection->serial = nextSerial_.fetch_add(1);
        connection->acceptedAt = Clock::now();
        bool admitted = false;
        ConnectionList evicted;
        const std::size_t open = OpenConnectionCount();
        {
            std::lock_guard guard(pendingAcceptLock_);
            admitted = accepting_;
            if (admitted) {
                // The oldest silent peers sit at the back.
                const std::size_t bound = PendingBoundLocked(open);
                while (!pendingPeers_.empty() && pendingPeers_.size() >= bound) {
                    pendingPeers_.back()->onPendingList = false;
                    evicted.splice(evicted.begin(), pendingPeers_, std::prev(pendingPeers_.end()));
                }
                pendingPeers_.push_front(connection);
                connection->pendingListPos = pendingPeers_.begin();
                connection->onPendingList = true;
            }
        }
        for (auto& c : evicted) MarkClosed(*c);
        SignalRepost();
        if (admitted) {
            // A terminal sends its registration right after connecting, so it
            // has mostly arrived by now: read at once, wait only if it has not.
            Receive(connection, 0, {});
        } else {
            DropPendingPeer(connection);
        }
        return;
    }
    SignalRepost();
}

void CIOCPServer::OnAcceptFailed(const asio::error_code& error) {
    failedAccepts_.fetch_add(1);
    const bool outOfDescriptors = platform::IsOutOfDescriptors(error);
    // Short of descriptors, a silent peer gives its own up first, so that
    // the peer waiting to be accepted, perhaps a terminal with its
    // registration, gets in. Registered terminals are never dropped for it.
    if (outOfDescriptors && DropOldestPendingPeer()) {
        SignalRepost();
        return;
    }
    bool tell = false;
    {
        std::lock_guard guard(eventLock_);
        acceptStarved_ = true;
        tell = outOfDescriptors && !std::exchange(starvationTold_, true);
    }
    if (tell) ShowOperatorMessage(kOutOfDescriptorsMessage);
}

void CIOCPServer::SignalRepost() {
    bool wake = false;
    {
        std::lock_guard guard(eventLock_);
        wake = repostCounter_++ == 0;  // the listener takes the whole count when it wakes
        if (std::exchange(acceptStarved_, false)) {
            starvationTold_ = false;
            // Descriptors came free: take the peers waiting in the backlog.
            acceptEvent_ = true;
            wake = true;
        }
    }
    if (wake) eventSignal_.notify_all();
}

void CIOCPServer::DropPendingPeer(const ConnectionPtr& connection) {
    {
        std::lock_guard guard(pendingAcceptLock_);
        if (connection->onPendingList) {
            pendingPeers_.erase(connection->pendingListPos);
            connection->onPendingList = false;
        }
    }
    MarkClosed(*connection);
}

bool CIOCPServer::DropOldestPendingPeer() {
    ConnectionPtr oldest;
    {
        std::lock_guard guard(pendingAcceptLock_);
        if (pendingPeers_.empty()) return false;
        oldest = pendingPeers_.back();
        oldest->onPendingList = false;
        pendingPeers_.pop_back();
    }
    MarkClosed(*oldest);
    return true;
}

std::size_t CIOCPServer::PendingBoundLocked(std::size_t openConnections) const {
    if (pendingLimitSet_ != 0) return pendingLimitSet_;
    if (descriptorLimit_ == 0) return kMaxPendingPeers;  // the limit is unknown
    // Half of what is free for connections: the other half stays for
    // terminals that register, however many registered ones hold theirs.
    const std::size_t held = std::min(descriptorLimit_, descriptorsAtStart_ + openConnections);
    return std::clamp<std::size_t>((descriptorLimit_ - held) / 2, 1, kMaxPendingPeers);
}

void CIOCPServer::DropSilentPeers(std::chrono::milliseconds limit) {
    const auto now = Clock::now();
    ConnectionList expired;
    {
        std::lock_guard guard(pendingAcceptLock_);
        // Newest first: the oldest peers sit at the back.
        while (!pendingPeers_.empty() && now - pendingPeers_.back()->acceptedAt > limit) {
            pendingPeers_.back()->onPendingList = false;
            expired.splice(expired.begin(), pendingPeers_, std::prev(pendingPeers_.end()));
        }
    }
    for (auto& c : expired) MarkClosed(*c);
}

}  // namespace dovrik
