// What the command engine keeps for terminals no conversation talks to.
// 1. An idle fleet: 10,000 listed terminals each send a status message every
//    30 s and text now and then, for 10 minutes of their time (heartbeats
//    never reach the engine: the link takes them). Target: the engine holds
//    under 5 MB more at the end than before.
// 2. 50,000 device IDs seen once (a status message each, never listed) and
//    gone. Target: under 5 MB.
// The intake runs as fast as it can; the heap is read with mallinfo2.
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "BenchEngine.h"
#include "CmdDataObj.h"
#include "CommandEngine.h"
#include "CommandTexts.h"

namespace {

// Rows by ID text, as the device list finds them.
class Rows final : public pelmora::IDeviceList {
  public:
    explicit Rows(std::uint32_t count) {
        for (std::uint32_t id = 1; id <= count; ++id) {
            ids_.push_back(pelmora::DeviceIdText(id));
            index_[ids_.back()] = static_cast<int>(id - 1);
        }
        power_.resize(count);
    }
    int RowCount() const override { return static_cast<int>(ids_.size()); }
    bool IsChecked(int) const override { return false; }
    std::string IdText(int row) const override { return ids_[row]; }
    std::string OnlineText(int) const override { return pelmora::text::kOnline; }
    int FindRow(const std::string& id) const override {
        const auto it = index_.find(id);
        return it == index_.end() ? -1 : it->second;
    }
    void SetPowerText(int row, const std::string& text) override { power_[row] = text; }

  private:
    std::vector<std::string> ids_;
    std::unordered_map<std::string, int> index_;
    std::vector<std::string> power_;
};

std::size_t HeapInUse() {
    malloc_trim(0);
    return mallinfo2().uordblks;
}

double MiB(std::size_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

}  // namespace

int main() {
    constexpr std::uint32_t kFleet = 10'000;
    constexpr int kRounds = 20;  // a status every 30 s for 10 minutes
    constexpr std::uint32_t kPassing = 50'000;
    constexpr double kTargetMiB = 5.0 * 1000 * 1000 / (1024.0 * 1024.0);

    bench::QuietEvents events;
    pelmora::LinkApi link;
    link.sendData = [](std::uint32_t, std::uint16_t, const std::uint8_t*) { return 1; };
    Rows rows(kFleet);
    Rows none(0);
    bool pass = true;
    {
        pelmora::CommandEngine engine(link, events);
        const std::size_t before = HeapInUse();
        const auto started = std::chrono::steady_clock::now();
        const std::string text = "ALARM TEST OK\r\n";
        for (int round = 0; round < kRounds; ++round) {
            for (std::uint32_t id = 1; id <= kFleet; ++id) {
                const auto status = pelmora::PackFrame(id, pelmora::kStatusMessage,
                                                       {static_cast<std::uint8_t>(round & 1), 0});
                engine.IntakePacket(id, status.data(), status.size(), rows);
                if (id % 10 == 0)
                    engine.IntakePacket(id, reinterpret_cast<const std::uint8_t*>(text.data()),
                                        text.size(), rows);
            }
            engine.FlushSends(std::chrono::seconds(60));
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const std::size_t after = HeapInUse();
        const double grown = MiB(after > before ? after - before : 0);
        const bool ok = grown < kTargetMiB;
        pass = pass && ok;
        std::printf(
            "idle fleet: %u terminals, %d status rounds and text, %zu messages in %.2f s:\n"
            "  engine heap growth %.2f MiB (target < 5 MB = %.2f MiB) %s; kept for %zu "
            "terminals\n",
            kFleet, kRounds, static_cast<std::size_t>(kFleet) * kRounds * 11 / 10, seconds, grown,
            kTargetMiB, ok ? "PASS" : "FAIL", engine.WatchedTerminals());
    }
    {
        pelmora::CommandEngine engine(link, events);
        const std::size_t before = HeapInUse();
        for (std::uint32_t id = 1; id <= kPassing; ++id) {
            const std::uint32_t passing = 0x40000000u + id;
            const auto status = pelmora::PackFrame(passing, pelmora::kStatusMessage, {1, 0});
            engine.IntakePacket(passing, status.data(), status.size(), none);
        }
        engine.FlushSends(std::chrono::seconds(60));
        const std::size_t after = HeapInUse();
        const double grown = MiB(after > before ? after - before : 0);
        const bool ok = grown < kTargetMiB;
        pass = pass && ok;
        std::printf(
            "passing IDs: %u IDs seen once, never listed:\n"
            "  engine heap growth %.2f MiB (target < 5 MB = %.2f MiB) %s; %zu power states "
            "waiting for a row (forgotten after 10 minutes)\n",
            kPassing, grown, kTargetMiB, ok ? "PASS" : "FAIL", engine.PendingPowerCount());
    }
    return pass ? 0 : 1;
}
