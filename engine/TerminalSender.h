// Sends that must not wait on a terminal's socket: the window thread's
// status-message answers and configuration commit, and a group job's frames.
// They are queued here and written by sending threads. Each terminal's
// messages go out in the order they were queued, by one thread at a time, so
// a terminal that stops reading holds up only its own messages (the link
// bounds each send). A few threads run; more start, up to kMaxThreads, while
// more terminals wait than threads are free, so that several terminals stuck
// in their send at once still leave threads for the others.
//
// A failed send drops what else is queued for that terminal and logs one
// line; a terminal with too much waiting, or a full queue, drops the new
// message and says so once. Messages with a completion callback are reported
// to it instead of the log.
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
    static constexpr std::size_t kMaxThreads = 32;
    static constexpr std::size_t kPerTerminalLimit = 256;
    static constexpr std::size_t kTotalLimit = 65536;

    using LogLine = std::function<void(std::string)>;
    // Makes a message's bytes on the sending thread when its turn comes, so
    // that thousands of queued messages do not each hold a frame. No bytes:
    // the message is no longer wanted and is skipped.
    using MakeBytes = std::function<std::vector<std::uint8_t>()>;
    // Told, on a sending thread, whether the bytes were written.
    using Done = std::function<void(bool sent)>;

    TerminalSender(LinkApi link, LogLine log);
    // Drops whatever is still queued and joins the threads.
    ~TerminalSender();
    TerminalSender(const TerminalSender&) = delete;
    TerminalSender& operator=(const TerminalSender&) = delete;

    // Queues the bytes for the terminal; `what` names the message in the
    // failure line. False when it was dropped (the line says why). Never
    // waits for the network.
    bool Post(std::uint32_t deviceId, std::vector<std::uint8_t> bytes, std::string what);
    // Queues a message made by `make` whose end goes to `done`: false when it
    // was skipped, failed, or dropped behind a failed one; nothing is logged.
    // False, and `done` is never called, when it could not be queued. A
    // message still queued when the sender is destroyed is never reported.
    bool PostDeferred(std::uint32_t deviceId, MakeBytes make, Done done);
    // As PostDeferred, but written at once on the caller's thread when
    // nothing else is queued or being written for that terminal (so its
    // order holds); queued otherwise. For a caller that waits for this one
    // write anyway: it saves the hop to a sending thread.
    bool WriteNow(std::uint32_t deviceId, MakeBytes make, Done done);
    // Messages queued or being written.
    std::size_t Pending() const;
    // Waits until nothing is pending, at most `limit`; true when nothing is.
    bool Flush(std::chrono::milliseconds limit);

  private:
    struct Message {
        std::vector<std::uint8_t> bytes;
        std::string what;
        MakeBytes make;  // set for deferred messages, with done
        Done done;
    };
    struct Terminal {
        // Mostly one message: a vector, not a deque, which would take half a
        // kilobyte for each of thousands of terminals a group job sends to.
        std::vector<Message> queue;
        bool sending = false;         // a thread owns the terminal
        bool overflowLogged = false;  // until its queue empties
    };

    bool Queue(std::uint32_t deviceId, Message message);
    void Run();
    bool StartThreadsLocked();
    // One more thread while more terminals wait than threads are free.
    void GrowLocked();

    // Constant after construction.
    LinkApi link_;
    LogLine log_;

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    std::unordered_map<std::uint32_t, Terminal> terminals_;  // guarded by lock_
    std::deque<std::uint32_t> ready_;   // guarded by lock_: terminals waiting for a thread
    std::size_t pending_ = 0;           // guarded by lock_
    std::size_t idle_ = 0;              // guarded by lock_: threads waiting for work
    bool fullLogged_ = false;           // guarded by lock_
    bool stopping_ = false;             // guarded by lock_
    std::vector<std::thread> threads_;  // guarded by lock_; joined once stopping_ is set
};

}  // namespace pelmora
