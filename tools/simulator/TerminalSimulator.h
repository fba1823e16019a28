// Simulated field terminals for trying the centre without hardware, and for
// the tests and benchmarks. Each terminal opens one TCP connection, sends its
// registration message, may heartbeat at a fixed interval, sends data (link
// escaped), raw bytes or the status message, and records every byte the
// centre sends it. A stateful terminal also answers the centre as a real one
// does: see StatefulTerminal.h.
//
// Thread safety: every member may be called from any thread. The terminals
// run on the simulator's own threads.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "SettingsReport.h"
#include "StatefulTerminal.h"

namespace dovrik::sim {

enum class PowerSource { Mains, Battery };

struct TerminalSpec {
    std::uint32_t deviceId = 0;
    std::string simNumber = "13800000000";  // 11 characters; padded with '0' or cut to fit
    std::array<std::uint8_t, 4> address{10, 0, 0, 1};
    std::chrono::milliseconds heartbeat{0};  // 0: no heartbeat
};

// The first message of a connection: ID (little-endian), SIM number, its NUL
// terminator, the address, and one spare byte (21 bytes).
std::vector<std::uint8_t> RegistrationMessage(const TerminalSpec& setup);

// The terminal's 19-byte status message: a short control frame from the
// terminal (command 0x0202) whose first payload byte tells the power source.
std::vector<std::uint8_t> StatusMessage(std::uint32_t deviceId, PowerSource power);

// Link-escapes plain bytes for the wire (no length limit).
std::vector<std::uint8_t> EscapeStream(const std::vector<std::uint8_t>& plain);

enum class TerminalState { Connecting, Registered, Closed, Failed };

// Many stateful terminals for jobs that address a group. Device IDs count up
// from firstId. The shares are fractions of `count`, rounded, taken in this
// order from the first terminal on; the rest answer as scripted by default.
struct FleetPlan {
    std::size_t count = 0;
    std::uint32_t firstId = 1;
    std::chrono::milliseconds answerDelay{0};  // before every answer
    std::chrono::milliseconds heartbeat{0};
    double refusingShare = 0;  // answer every control frame with result 0
    double silentShare = 0;    // answer nothing, neither lines nor frames
    double deafShare = 0;      // stop reading: what the centre sends piles up
};

// Simulator indices of a fleet's terminals by how they behave.
struct Fleet {
    std::vector<std::size_t> answering;
    std::vector<std::size_t> refusing;
    std::vector<std::size_t> silent;
    std::vector<std::size_t> deaf;
};

class TerminalSimulator final {
  public:
    struct Options {
        std::string host = "127.0.0.1";
        std::uint16_t port = 5001;
        int threads = 1;
        std::size_t readChunk = 2048;
    };
    // Called on a simulator thread with each chunk of raw bytes a terminal receives.
    using ReceiveHandler =
        std::function<void(std::size_t index, const std::uint8_t* data, std::size_t count)>;
    // Called on a simulator thread when a terminal's connection ends.
    using StateHandler = std::function<void(std::size_t index, TerminalState state)>;

    explicit TerminalSimulator(Options options);
    ~TerminalSimulator();
    TerminalSimulator(const TerminalSimulator&) = delete;
    TerminalSimulator& operator=(const TerminalSimulator&) = delete;

    // Set before the first Add.
    void SetReceiveHandler(ReceiveHandler handler);
    void SetStateHandler(StateHandler handler);

    // Starts connecting a terminal; it registers as soon as it is connected.
    // AddWithFirstMessage sends `firstMessage` instead of the registration.
    std::size_t Add(const TerminalSpec& setup);
    std::size_t AddWithFirstMessage(const TerminalSpec& setup,
                                    std::vector<std::uint8_t> firstMessage);
    // Connects and sends nothing at all: a silent peer.
    std::size_t AddSilent();
    std::size_t Count() const;

    // Makes the terminal keep settings and answer command lines and control
    // frames. Call it before the centre sends anything: bytes that arrived
    // earlier go unanswered.
    void MakeStateful(std::size_t index, TerminalScript script = {},
                      pelmora::AlarmSettings settings = DefaultTerminalSettings());
    // Ignored for a terminal that is not stateful.
    void SetScript(std::size_t index, TerminalScript script);
    // A terminal that is not stateful has an empty record and no messages.
    pelmora::AlarmSettings Settings(std::size_t index) const;
    // Every command line (with its "\r"), commit line and frame received,
    // un-escaped, in order of arrival, over all its connections.
    std::vector<std::vector<std::uint8_t>> Messages(std::size_t index) const;
    // The text messages only, without the "\r".
    std::vector<std::string> CommandLines(std::size_t index) const;

    // Adds and makes stateful the terminals of `plan`; they start connecting at once.
    Fleet AddFleet(const FleetPlan& plan);

    // The terminal reads nothing more from its connection (a read already
    // under way still completes), so what the centre sends fills the socket
    // buffers until the centre's sends block. Holds across reconnections.
    void StopReading(std::size_t index);

    void SendRaw(std::size_t index, std::vector<std::uint8_t> wire);
    void SendData(std::size_t index, const std::vector<std::uint8_t>& plain);
    void SendText(std::size_t index, const std::string& text);
    void SendHeartbeat(std::size_t index);
    void SendStatus(std::size_t index, PowerSource power);
    // Orderly close (FIN) and abortive close (RST).
    void Close(std::size_t index);
    void Reset(std::size_t index);

    TerminalState State(std::size_t index) const;
    // Terminals whose registration has been written.
    std::size_t RegisteredCount() const { return registered_.load(); }
    // How often this terminal has registered: a restart registers again.
    std::size_t Registrations(std::size_t index) const;
    // Everything the terminal received so far, un-escaped.
    std::vector<std::uint8_t> Received(std::size_t index) const;
    std::size_t ReceivedWireBytes(std::size_t index) const;
    std::uint64_t TotalReceivedWireBytes() const { return totalReceived_.load(); }
    std::uint64_t TotalSentWireBytes() const { return totalSent_.load(); }

    // Polls `condition` every millisecond until it holds or `timeout` passes.
    static bool WaitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout);

  private:
    struct Terminal;
    struct Impl;

    Terminal& At(std::size_t index) const;
    std::shared_ptr<StatefulTerminal> StatefulAt(std::size_t index) const;
    std::size_t AddTerminal(const TerminalSpec& setup,
                            std::optional<std::vector<std::uint8_t>> firstMessage,
                            bool deaf = false);
    // These run on the terminal's strand.
    void Connect(Terminal& t);
    void Queue(Terminal& t, std::vector<std::uint8_t> bytes);
    void WriteNext(Terminal& t);
    void StartRead(Terminal& t);
    void StartHeartbeat(Terminal& t);
    void SetState(Terminal& t, TerminalState next);
    // A stateful terminal's answers, one after the other.
    void RunActions(Terminal& t);
    void Perform(Terminal& t, TerminalAction action);
    void Restart(Terminal& t, std::chrono::milliseconds offline);
    // Ends the connection for good: no restart brings it back.
    void Stop(Terminal& t);

    std::unique_ptr<Impl> impl_;
    std::atomic<std::size_t> registered_{0};
    std::atomic<std::uint64_t> totalReceived_{0};
    std::atomic<std::uint64_t> totalSent_{0};
};

}  // namespace dovrik::sim
