// From SubmitIfIdle to the frame on the wire: a control job is queued, the
// worker packs and sends its frame through Dovrik, and a terminal on loopback
// reads it. The answer polling is not part of the path (it is shortened here
// so that the next job can start at once).
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include "BenchEngine.h"
#include "BenchSupport.h"
#include "CmdDataObj.h"
#include "CommandEngine.h"
#include "Dovrik.h"
#include "LinkProtocol.h"
#include "TerminalSimulator.h"

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
    int jobs = 200;
    if (argc == 3 && std::string(argv[1]) == "--jobs") {
        jobs = std::max(1, std::atoi(argv[2]));
    } else if (argc != 1) {
        std::printf("Usage: bench_engine_path [--jobs N]   (default 200)\n");
        return std::string(argv[1]) == "--help" ? 0 : 2;
    }
    constexpr std::uint32_t kId = 0x00112233;
    const std::uint16_t port = bench::FreePort();
    if (!DSStartService(port)) return 1;

    asio::io_context io;
    asio::ip::tcp::socket terminal(io);
    terminal.connect({asio::ip::address_v4::loopback(), port});
    terminal.set_option(asio::ip::tcp::no_delay(true));
    const auto registration = dovrik::sim::RegistrationMessage({.deviceId = kId});
    asio::write(terminal, asio::buffer(registration));
    bench::TimeUntil([] { return DSGetModemCount() == 1; }, std::chrono::seconds(10));

    bench::QuietEvents events;
    bench::NoDevices devices;
    pelmora::EngineTiming timing;
    timing.framePollInterval = std::chrono::milliseconds(1);
    pelmora::CommandEngine engine(pelmora::DovrikLink(), events, timing);
    engine.StartWorker();
    std::atomic<bool> draining{true};
    std::thread drain([&] {
        _PACKET packet;
        while (draining) {
            while (DSGetNextData(&packet, 0))
                engine.IntakePacket(packet.deviceId, packet.data, packet.length, devices);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    std::vector<double> micros;
    std::vector<std::uint8_t> wire(64);
    std::vector<std::uint8_t> plain(64);
    const auto answer = pelmora::PackFrame(kId, pelmora::kStopMp3Answer, {1});
    std::vector<std::uint8_t> escaped(dovrik::kMaxWireMessage);
    escaped.resize(*dovrik::EscapeForSend(answer.data(), answer.size(), escaped.data()));
    for (int i = 0; i < jobs; ++i) {
        auto job = std::make_unique<pelmora::CommandJob>();
        job->kind = static_cast<std::int32_t>(pelmora::CommandKind::StopMp3);
        job->deviceId = kId;
        const auto start = Clock::now();
        engine.SubmitIfIdle(std::move(job));
        std::size_t got = 0;
        std::size_t plainCount = 0;
        while (plainCount < 17) {
            got += terminal.read_some(asio::buffer(wire.data() + got, wire.size() - got));
            plainCount = dovrik::Unescape(wire.data(), got, plain.data());
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        asio::write(terminal, asio::buffer(escaped));
        bench::TimeUntil([&] { return !engine.Busy(); }, std::chrono::seconds(10));
    }
    draining = false;
    drain.join();
    DSStopService();

    std::sort(micros.begin(), micros.end());
    std::printf("SubmitIfIdle to the frame read by the terminal, %d control jobs:\n", jobs);
    std::printf("median %.1f us, 99th percentile %.1f us, max %.1f us (target < 1000 us)\n",
                micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.back());
    return 0;
}
