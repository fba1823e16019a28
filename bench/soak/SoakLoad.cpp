#include "SoakLoad.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

#include "CmdDataObj.h"
#include "TerminalSimulator.h"

namespace soak {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using dovrik::sim::PowerSource;
using dovrik::sim::TerminalScript;
using dovrik::sim::TerminalSimulator;
using dovrik::sim::TerminalSpec;
using dovrik::sim::TerminalState;

// Data starts this long after a registration, so the registration is the
// connection's first receive on its own.
constexpr auto kSettle = 1s;
constexpr std::size_t kNoTerminal = static_cast<std::size_t>(-1);

struct Slot {
    std::uint32_t id = 0;
    std::size_t index = kNoTerminal;  // the simulator's terminal of the open connection
    std::uint32_t epoch = 0;          // of the open connection
    std::uint32_t sent = 0;
    bool open = false;
    Clock::time_point openedAt{};
    Clock::time_point readyAt{};
    Clock::time_point reconnectAt{};
    Clock::time_point quietUntil{};
};

struct SilentPeer {
    std::size_t index;
    Clock::time_point leaveAt;  // max(): stays until the centre drops it
};

class Fleet {
  public:
    Fleet(const LoadPlan& plan, TerminalSimulator& sim)
        : plan_(plan),
          sim_(sim),
          random_(plan.seed),
          slots_(static_cast<std::size_t>(plan.terminals)) {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            slots_[i].id = kFirstId + static_cast<std::uint32_t>(i);
        }
    }

    // Connects the fleet 100 terminals at a time, 50 ms apart. All at once
    // would overflow the listen queue: the kernel then answers with SYN
    // cookies and may lose connections before the service ever sees them,
    // which this run would wrongly count against the centre.
    void ConnectAll() {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            if (i > 0 && i % 100 == 0) std::this_thread::sleep_for(50ms);
            Connect(i, Clock::now(), /*first=*/true);
        }
    }

    // A connection ended; called on a simulator thread.
    void Ended(std::size_t index) {
        std::lock_guard guard(endedLock_);
        endedIndexes_.push_back(index);
    }

    void Tick(Clock::time_point now, double seconds) {
        TakeEndedConnections(now);
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            Slot& s = slots_[i];
            if (!s.open && s.reconnectAt <= now) Connect(i, now, false);
        }
        Every(budgets_[0], plan_.messagesPerSecond, seconds, [&] {
            if (Slot* s = PickDataSlot(now)) {
                std::uniform_int_distribution<std::size_t> length(0, 400);
                sim_.SendData(s->index, MakeRecord(s->id, s->epoch, s->sent++, length(random_)));
                ++stats_.records;
            }
        });
        Every(budgets_[1], plan_.resetsPerSecond, seconds, [&] {
            if (Slot* s = PickDataSlot(now)) {
                const std::size_t index = EndEpoch(*s, now);
                sim_.Reset(index);
                ++stats_.resets;
            }
        });
        Every(budgets_[2], plan_.closesPerSecond, seconds, [&] {
            if (Slot* s = PickDataSlot(now)) {
                const std::size_t index = EndEpoch(*s, now);
                sim_.Close(index);
                ++stats_.closes;
            }
        });
        Every(budgets_[3], plan_.reregistrationsPerSecond, seconds, [&] {
            if (Slot* s = PickDataSlot(now)) {
                // The old connection stays open on this side; the centre
                // closes it when the new one registers.
                EndEpoch(*s, now);
                Connect(static_cast<std::size_t>(s - slots_.data()), now, false);
                ++stats_.reregistrations;
            }
        });
        Every(budgets_[4], plan_.quietPerSecond, seconds, [&] {
            if (Slot* s = PickDataSlot(now)) {
                std::uniform_int_distribution<int> ms(5000, 60000);
                s->quietUntil = now + std::chrono::milliseconds(ms(random_));
                ++stats_.quietSpells;
            }
        });
        Every(budgets_[5], plan_.statusPerSecond, seconds, [&] {
            std::uniform_int_distribution<std::size_t> pick(0, slots_.size() - 1);
            Slot& s = slots_[pick(random_)];
            if (s.open && now >= s.readyAt) {
                sim_.SendStatus(s.index, random_() % 2 ? PowerSource::Battery : PowerSource::Mains);
                ++stats_.statusMessages;
            }
        });
        Every(budgets_[6], plan_.silentPeersPerSecond, seconds, [&] {
            // Half of them leave after a while, the rest wait for the centre.
            std::uniform_int_distribution<int> ms(5000, 60000);
            const auto leaveAt = random_() % 2 ? now + std::chrono::milliseconds(ms(random_))
                                               : Clock::time_point::max();
            silentPeers_.push_back({sim_.AddSilent(), leaveAt});
            ++stats_.silentPeers;
        });
        for (auto it = silentPeers_.begin(); it != silentPeers_.end();) {
            if (it->leaveAt <= now) {
                sim_.Close(it->index);
                it = silentPeers_.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Every open connection stayed; together with the ended ones.
    std::vector<SentEpoch> Epochs(Clock::time_point now) {
        TakeEndedConnections(now);
        std::vector<SentEpoch> all = ended_;
        for (std::size_t i = static_cast<std::size_t>(plan_.jobTerminals); i < slots_.size(); ++i) {
            const Slot& s = slots_[i];
            if (s.open) all.push_back({s.id, s.epoch, s.sent, true});
        }
        return all;
    }

    LoadStats& Stats() { return stats_; }

  private:
    // Runs `action` at `perSecond` on average; `budget` carries the fraction
    // over from one tick to the next.
    template <typename Action>
    static void Every(double& budget, double perSecond, double seconds, Action action) {
        budget += perSecond * seconds;
        while (budget >= 1.0) {
            budget -= 1.0;
            action();
        }
    }

    Slot* PickDataSlot(Clock::time_point now) {
        const std::size_t first = static_cast<std::size_t>(plan_.jobTerminals);
        if (first >= slots_.size()) return nullptr;
        std::uniform_int_distribution<std::size_t> pick(first, slots_.size() - 1);
        for (int attempt = 0; attempt < 8; ++attempt) {
            Slot& s = slots_[pick(random_)];
            if (s.open && now >= s.readyAt && now >= s.quietUntil) return &s;
        }
        return nullptr;
    }

    void Connect(std::size_t slot, Clock::time_point now, bool first) {
        Slot& s = slots_[slot];
        TerminalSpec setup;
        setup.deviceId = s.id;
        setup.simNumber = "139" + std::to_string(10000000 + slot);
        setup.address = {10, 1, static_cast<std::uint8_t>(slot >> 8),
                         static_cast<std::uint8_t>(slot)};
        if (slot % 2 == 1) setup.heartbeat = plan_.heartbeat;
        const std::size_t index = sim_.Add(setup);
        if (slot < static_cast<std::size_t>(plan_.jobTerminals)) {
            TerminalScript script;
            if (s.id == kSilentJobTerminal) {
                script.replies["AT+SHOW"] = dovrik::sim::Reply::Silent;
                script.frameResults[pelmora::kVersionRequest] = std::nullopt;
            }
            sim_.MakeStateful(index, script);
        }
        if (!first) ++s.epoch;
        s.index = index;
        s.sent = 0;
        s.open = true;
        s.openedAt = now;
        s.readyAt = now + kSettle;
        s.quietUntil = {};
        ++stats_.connections;
        std::lock_guard guard(endedLock_);
        if (owner_.size() <= index) owner_.resize(index + 1, kNoTerminal);
        owner_[index] = slot;
    }

    // Closes the books of the slot's connection; returns its terminal.
    std::size_t EndEpoch(Slot& s, Clock::time_point now) {
        ended_.push_back({s.id, s.epoch, s.sent, false});
        const std::size_t index = s.index;
        s.open = false;
        s.index = kNoTerminal;
        std::uniform_int_distribution<int> ms(200, 3000);
        s.reconnectAt = now + std::chrono::milliseconds(ms(random_));
        return index;
    }

    void TakeEndedConnections(Clock::time_point now) {
        std::vector<std::pair<std::size_t, std::size_t>> ended;  // terminal, slot
        {
            std::lock_guard guard(endedLock_);
            for (std::size_t index : endedIndexes_) {
                if (index < owner_.size()) ended.emplace_back(index, owner_[index]);
            }
            endedIndexes_.clear();
        }
        for (const auto& [index, slot] : ended) {
            if (slot == kNoTerminal || slot < static_cast<std::size_t>(plan_.jobTerminals))
                continue;
            Slot& s = slots_[slot];
            // Only the slot's current connection counts: the old one of a
            // re-registration is closed by the centre, as it should be.
            if (!s.open || s.index != index) continue;
            if (++stats_.droppedByCentre <= 10) {
                const bool failed = sim_.State(index) == TerminalState::Failed;
                std::fprintf(
                    stderr,
                    "soak load: %08x, connection %u, ended %lld ms after it was opened "
                    "(%s, %s registered)\n",
                    s.id, s.epoch,
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(now - s.openedAt)
                            .count()),
                    failed ? "failed" : "closed",
                    sim_.Registrations(index) > 0 ? "had" : "had not");
            }
            EndEpoch(s, now);
        }
    }

    static constexpr std::size_t kEventKinds = 7;
    const LoadPlan& plan_;
    TerminalSimulator& sim_;
    std::mt19937 random_;
    std::vector<Slot> slots_;
    std::vector<SentEpoch> ended_;
    std::vector<SilentPeer> silentPeers_;
    std::array<double, kEventKinds> budgets_{};  // one per kind of event in Tick
    LoadStats stats_;

    std::mutex endedLock_;
    std::vector<std::size_t> endedIndexes_;  // guarded by endedLock_
    std::vector<std::size_t> owner_;         // terminal -> slot; guarded by endedLock_
};

// Counts the status answers in what a terminal received: 17-byte frames with
// the answer code 0x8202 (a frame's bytes may be split over two reads or
// escaped; the count is for the report only).
std::uint64_t CountStatusAnswers(const std::uint8_t* data, std::size_t count) {
    std::uint64_t answers = 0;
    for (std::size_t i = 0; i + 11 <= count; ++i) {
        if (data[i] == 0x02 && data[i + 1] == 0x11 && data[i + 2] == 0x01 && data[i + 9] == 0x82 &&
            data[i + 10] == 0x02) {
            ++answers;
        }
    }
    return answers;
}

constexpr int kStatsWords = 10;

}  // namespace

int RunLoad(const LoadPlan& plan, bench::ChildProcess& centre) {
    TerminalSimulator::Options options;
    options.port = plan.port;
    options.threads = 2;
    std::atomic<std::uint64_t> statusAnswers{0};
    auto simulator = std::make_unique<TerminalSimulator>(options);
    TerminalSimulator& sim = *simulator;
    Fleet fleet(plan, sim);
    sim.SetReceiveHandler([&](std::size_t, const std::uint8_t* data, std::size_t count) {
        statusAnswers += CountStatusAnswers(data, count);
    });
    sim.SetStateHandler([&](std::size_t index, TerminalState state) {
        if (state == TerminalState::Closed || state == TerminalState::Failed) fleet.Ended(index);
    });

    fleet.ConnectAll();
    TerminalSimulator::WaitUntil(
        [&] { return sim.RegisteredCount() >= static_cast<std::size_t>(plan.terminals); }, 60s);
    centre.Send(sim.RegisteredCount());

    std::atomic<bool> stop{false};
    std::thread listener([&] {
        centre.Receive();  // kStop
        stop = true;
    });
    auto last = Clock::now();
    while (!stop) {
        std::this_thread::sleep_for(10ms);
        const auto now = Clock::now();
        fleet.Tick(now, std::chrono::duration<double>(now - last).count());
        last = now;
    }
    listener.join();

    // Let the last writes leave (heartbeats go on, so the byte count never
    // settles; on loopback two seconds are plenty).
    std::this_thread::sleep_for(2s);
    const std::vector<SentEpoch> epochs = fleet.Epochs(Clock::now());
    LoadStats& s = fleet.Stats();
    s.statusAnswers = statusAnswers.load();
    for (std::uint64_t word :
         {s.records, s.connections, s.resets, s.closes, s.reregistrations, s.quietSpells,
          s.statusMessages, s.statusAnswers, s.silentPeers, s.droppedByCentre}) {
        centre.Send(word);
    }
    centre.Send(epochs.size());
    for (const SentEpoch& e : epochs) {
        centre.Send(static_cast<std::uint64_t>(e.deviceId) << 32 | e.epoch);
        centre.Send(static_cast<std::uint64_t>(e.sent) << 1 | (e.stayedConnected ? 1u : 0u));
    }
    while (centre.Receive() != kQuit) {
    }
    // The simulator's threads call into the fleet: they end first.
    simulator.reset();
    return 0;
}

LoadReport ReceiveReport(bench::ChildProcess& load) {
    LoadReport r;
    std::uint64_t words[kStatsWords];
    for (std::uint64_t& w : words) w = load.Receive();
    r.stats = {words[0], words[1], words[2], words[3], words[4],
               words[5], words[6], words[7], words[8], words[9]};
    const std::uint64_t count = load.Receive();
    r.epochs.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t key = load.Receive();
        const std::uint64_t value = load.Receive();
        r.epochs.push_back({static_cast<std::uint32_t>(key >> 32), static_cast<std::uint32_t>(key),
                            static_cast<std::uint32_t>(value >> 1), (value & 1) != 0});
    }
    return r;
}

}  // namespace soak
