// The sending side of the connection engine: one whole message to one
// connection's socket, bounded by the send timeout and never interleaved
// with another sender's message. It bypasses the completion side.
#include "IOCPServer.h"
#include "platform/SocketPlatform.h"

namespace dovrik {

using Clock = std::chrono::steady_clock;

CIOCPServer::SendResult CIOCPServer::Send(const ConnectionPtr& connection, const std::uint8_t* data,
                                          std::size_t length) {
    std::chrono::milliseconds timeout;
    {
        std::lock_guard guard(eventLock_);
        timeout = timings_.sendTimeout;
    }
    const auto deadline = Clock::now() + timeout;
    if (!connection->sendTurn.Take(deadline)) return SendResult::Failed;  // nothing written
    struct TurnGuard {
        SendTurn& turn;
        ~TurnGuard() { turn.Give(); }
    } turnGuard{connection->sendTurn};

    platform::NativeSocket socket{};
    {
        std::lock_guard guard(connection->lock);
        if (connection->closing.load() || !connection->socket.is_open()) return SendResult::Closed;
        ++connection->pendingSends;
        socket = connection->socket.native_handle();
    }
    const auto outcome = platform::WriteUntil(socket, data, length, deadline, connection->closing);
    if (outcome == platform::WriteOutcome::TimedOut) {
        // Part of the message may be out; no later message may follow it.
        // Still holding the turn, so no other sender gets in first.
        CloseConnection(connection);
    }
    {
        std::lock_guard guard(connection->lock);
        --connection->pendingSends;
        if (connection->closing.load() && connection->pendingSends == 0 &&
            connection->socket.is_open()) {
            asio::error_code ignored;
            connection->socket.close(ignored);
        }
    }
    switch (outcome) {
        case platform::WriteOutcome::Written:
            return SendResult::Sent;
        case platform::WriteOutcome::TimedOut:
            return SendResult::TimedOut;
        case platform::WriteOutcome::Closed:
            return SendResult::Closed;
        case platform::WriteOutcome::NotWritten:  // the stream is intact: the terminal stays
        case platform::WriteOutcome::Failed:
            break;
    }
    return SendResult::Failed;
}

}  // namespace dovrik
