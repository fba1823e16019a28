// Sends for the window thread, which must never wait on a terminal's socket:
// the status-message answers and the configuration commit are queued here and
// written by a few sending threads. Each terminal's messages go out in the
// order they were queued, by one thread at a time, so a terminal that stops
// reading holds up only its own messages (the link bounds each send).
//
// A failed send drops what else is queued for that terminal and logs one
// line; a terminal with too much waiting, or a full queue, drops the new
// message and says so once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "LinkApi.h"

namespace pelmora {

class TerminalSender {
  public:
    static constexpr std::size_t kThreads = 4;
    static constexpr std::size_t kPerTerminalLimit = 256;
    static constexpr std::size_t kTotalLimit = 65536;

    using LogLine = std::function<void(std::string)>;

    TerminalSender(LinkApi link, LogLine log);
    // Drops whatever is still queued and joins the threads.
    ~TerminalSender();
    TerminalSender(const TerminalSender&) = delete;
    TerminalSender& operator=(const TerminalSender&) = delete;

    // Queues the bytes for the terminal; `what` names the message in the
    // failure line. False when it was dropped (the line says why). Never
    // waits for the network.
    bool Post(std::uint32_t deviceId, std::vector<std::uint8_t> bytes, std::string what);
    // Messages queued or being written.
    std::size_t Pending() const;
    // Waits until nothing is pending, at most `limit`; true when nothing is.
    bool Flush(std::chrono::milliseconds limit);

  private:
    struct Message {
        std::vector<std::uint8_t> bytes;
        std::string what;
    };
    struct Terminal {
        std::deque<Message> queue;
        bool sending = false;         // a thread owns the terminal
        bool overflowLogged = false;  // until its queue empties
    };

    void Run();
    bool StartThreadsLocked();

    // Constant after construction.
    LinkApi link_;
    LogLine log_;

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    std::unordered_map<std::uint32_t, Terminal> terminals_;  // guarded by lock_
    std::deque<std::uint32_t> ready_;   // guarded by lock_: terminals waiting for a thread
    std::size_t pending_ = 0;           // guarded by lock_
    bool fullLogged_ = false;           // guarded by lock_
    bool stopping_ = false;             // guarded by lock_
    std::vector<std::thread> threads_;  // started on first use, under lock_
};

}  // namespace pelmora
