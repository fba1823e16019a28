// The terminal side of the soak run, in a child process of its own: a fleet of
// simulated terminals that connect, re-register, reset, close, go quiet, send
// data, heartbeats and status messages, while a few stateful ones answer the
// centre's jobs. It talks to the centre process through the pipe words below.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "BenchSupport.h"
#include "SoakLedger.h"

namespace soak {

inline constexpr std::uint32_t kFirstId = 0x70000000;
// The stateful terminals are the first IDs. This one never answers a settings
// read nor a version query, so those jobs run into their time limits.
inline constexpr std::uint32_t kSilentJobTerminal = kFirstId + 1;

struct LoadPlan {
    std::uint16_t port = 0;
    int terminals = 2000;
    int jobTerminals = 8;  // stateful; they never reset, close or re-register
    double messagesPerSecond = 1000;
    double resetsPerSecond = 2;           // abortive close (RST), reconnect later
    double closesPerSecond = 2;           // orderly close (FIN), reconnect later
    double reregistrationsPerSecond = 2;  // a new connection replaces the old one
    double quietPerSecond = 1;            // a terminal stops sending for 5-60 s
    double statusPerSecond = 20;
    double silentPeersPerSecond = 0.2;           // connect and never speak
    std::chrono::milliseconds heartbeat{20000};  // for every other terminal
    std::uint32_t seed = 1;
};

// What the load did, sent to the centre at the end.
struct LoadStats {
    std::uint64_t records = 0;
    std::uint64_t connections = 0;  // registrations, the first ones included
    std::uint64_t resets = 0;
    std::uint64_t closes = 0;
    std::uint64_t reregistrations = 0;
    std::uint64_t quietSpells = 0;
    std::uint64_t statusMessages = 0;
    std::uint64_t statusAnswers = 0;  // answer frames the terminals got back
    std::uint64_t silentPeers = 0;
    std::uint64_t droppedByCentre = 0;  // connections the centre ended on its own
};

// Pipe words.
inline constexpr std::uint64_t kStop = 1;
inline constexpr std::uint64_t kQuit = 2;

// The child's body: connects the fleet, sends the number registered, runs the
// load until kStop, lets the last writes drain, then sends the stats and every
// connection's SentEpoch, and waits for kQuit.
int RunLoad(const LoadPlan& plan, bench::ChildProcess& centre);

// The centre's side of the report.
struct LoadReport {
    LoadStats stats;
    std::vector<SentEpoch> epochs;
};
LoadReport ReceiveReport(bench::ChildProcess& load);

}  // namespace soak
