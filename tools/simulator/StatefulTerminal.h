// A terminal that keeps settings and answers the centre: command lines by
// "OK" / "ERROR" with its settings updated, "AT+SHOW\r" by its settings
// report, control frames by answer frames. No sockets: it takes the bytes a
// connection received and says what to write back and when; the simulator
// runs that on the connection.
//
// The incoming stream is un-escaped and cut into messages: a control frame
// (starts with 02 11 01, taken whole by its length field), the 19-byte commit
// line "***COMMIT CONFIG***", or a text line up to and including "\r". A
// message cut by the network waits for its rest.
//
// Command words are matched exactly as the centre spells them, so a line in
// the wrong case is unknown and answered "ERROR". A value the terminal cannot
// hold is refused with "ERROR" where the script says Ok: a priority over 10,
// a play count outside 0 to 65535, an option outside its choices, a text
// longer than its field, an empty or over-long list entry, a full list.
// Number lists are kept packed, in the order the numbers were added, without
// repeats.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "SettingsRecord.h"

namespace dovrik::sim {

enum class Reply { Ok, Error, Silent };

// How one terminal answers. It may be replaced while the terminal runs; the
// new script holds from the next message on.
struct TerminalScript {
    // For settings and number-list lines without an entry in `replies`.
    Reply defaultReply = Reply::Ok;
    // By command word ("AT+LRMGPRSPRIO", "at+ipad", "AT+SHOW"). For "AT+SHOW",
    // Ok is the report and Silent sends nothing; Ok for an unknown word
    // answers "OK" and changes nothing.
    std::map<std::string, Reply> replies;
    // Bytes per write of the report; 0: one write when the report fits in one
    // message, else pieces of kReportPiece wire bytes. No write is ever longer
    // than a message (4096 bytes on the wire, escaped).
    std::size_t reportChunk = 0;
    std::chrono::milliseconds chunkDelay{2};   // between report writes
    std::chrono::milliseconds answerDelay{0};  // before each answer
    // Result byte by request code; nullopt: never answer that request (a
    // restart still happens).
    std::map<std::uint16_t, std::optional<std::uint8_t>> frameResults;
    // For requests without an entry in frameResults; nullopt: never answered.
    std::optional<std::uint8_t> defaultFrameResult = 1;
    std::string softwareVersion = "V1.2.0";  // version answer, bytes 0-39
    std::string bootVersion = "BOOT-1.0";    // bytes 40-79
    // After a restart request: answer, close, and connect and register again
    // after this long.
    std::chrono::milliseconds restartDelay{100};
};

// One thing to do on the connection, in order, each after the previous one.
struct TerminalAction {
    enum class Kind { Write, Restart };
    Kind kind = Kind::Write;
    std::chrono::milliseconds delay{0};           // wait before doing it
    std::vector<std::uint8_t> bytes;              // Write: plain bytes, escaped by the sender
    std::chrono::milliseconds reconnectAfter{0};  // Restart: offline time
};

// One received message as it arrived, un-escaped.
struct ReceivedMessage {
    enum class Kind { Text, Frame };
    Kind kind = Kind::Text;
    std::vector<std::uint8_t> bytes;
};

// Thread safety: Receive and ResetStream are for one thread at a time (the
// connection's); the other members may be called from any thread.
class StatefulTerminal final {
  public:
    // A text line that reaches this length without "\r" is taken as it
    // stands, so that a stream without line ends cannot grow without bound.
    static constexpr std::size_t kMaxLine = 4096;
    // A report too long for one message goes in pieces of this many wire
    // bytes: pieces that the network runs together into one receive still
    // make a message the centre accepts, unless more than four meet.
    static constexpr std::size_t kReportPiece = 1024;

    StatefulTerminal(std::uint32_t deviceId, TerminalScript script,
                     pelmora::AlarmSettings settings);

    // Takes bytes as they came off the wire, escaped and cut anywhere, and
    // returns what to do in answer.
    std::vector<TerminalAction> Receive(const std::uint8_t* wire, std::size_t count);
    // Drops a partly received message: a new connection starts clean.
    void ResetStream();

    void SetScript(TerminalScript script);
    pelmora::AlarmSettings Settings() const;
    std::vector<ReceivedMessage> Messages() const;

  private:
    std::optional<ReceivedMessage> NextMessage();
    ReceivedMessage Take(std::size_t count, ReceivedMessage::Kind kind);
    void AnswerLine(const std::vector<std::uint8_t>& message, std::vector<TerminalAction>& out);
    void AnswerFrame(const std::vector<std::uint8_t>& frame, std::vector<TerminalAction>& out);

    const std::uint32_t deviceId_;

    // Touched only by the caller of Receive.
    std::vector<std::uint8_t> pending_;  // un-escaped, not yet a whole message
    bool escapePending_ = false;         // the last wire byte was the escape byte

    mutable std::mutex lock_;
    TerminalScript script_;                  // guarded by lock_
    pelmora::AlarmSettings settings_;        // guarded by lock_
    std::vector<ReceivedMessage> messages_;  // guarded by lock_
};

}  // namespace dovrik::sim
