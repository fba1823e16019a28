// Writes the seed inputs of the fuzz targets into <dir>/<target>/, built
// with the same frame packer and report writer the tests use, so the seeds
// follow the wire formats when those change.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CmdDataObj.h"
#include "LinkProtocol.h"
#include "SettingsRecord.h"
#include "SettingsReport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

void Write(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void Write(const fs::path& dir, const std::string& name, std::string_view text) {
    Write(dir, name, Bytes(text.begin(), text.end()));
}

Bytes Registration() {
    Bytes m(21, 0x33);
    m[0] = 0x78;
    m[1] = 0x56;
    m[2] = 0x34;
    m[3] = 0x12;
    for (int i = 0; i < 11; ++i) m[4 + i] = static_cast<std::uint8_t>('0' + i % 10);
    m[15] = 0;
    m[16] = 192;
    m[17] = 168;
    m[18] = 1;
    m[19] = 20;
    return m;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus dir>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    using namespace pelmora;

    const fs::path link = root / "fuzz_link";
    Write(link, "registration", Registration());
    Write(link, "heartbeat", Bytes{0xFE});
    Write(link, "escaped_pairs", Bytes{0xFD, 0xED, 0xFD, 0xEE, 0x41});
    Write(link, "lone_escape_at_end", Bytes{0x41, 0xFD, 0xFD, 0xED, 0xFD});
    {
        const Bytes plain = PackFrame(1, kPlayContentRequest, {0xFD, 0xFE, 0x41});
        Bytes wire(dovrik::kMaxWireMessage);
        wire.resize(*dovrik::EscapeForSend(plain.data(), plain.size(), wire.data()));
        Write(link, "escaped_frame", wire);
    }

    const fs::path receive = root / "fuzz_receive";
    for (const auto& [name, plain] :
         {std::pair<std::string, Bytes>{"status_battery",
                                        PackFrame(5, kStatusMessage, {0x01, 0x00})},
          {"status_mains", PackFrame(0x12345678, kStatusMessage, {0x00, 0x00})},
          {"text_with_nul", Bytes{'1', '2', 0x00, '3'}},
          {"settings_ok", Bytes{'O', 'K', '\r', '\n'}}}) {
        Bytes wire(dovrik::kMaxWireMessage);
        wire.resize(*dovrik::EscapeForSend(plain.data(), plain.size(), wire.data()));
        Write(receive, name, wire);
    }
    Write(receive, "heartbeat", Bytes{0xFE});
    Bytes pairs;
    for (std::size_t i = 0; i < dovrik::kMaxWireMessage / 2; ++i)
        pairs.insert(pairs.end(), {0xFD, 0xED});
    Write(receive, "wire_limit_of_pairs", pairs);
    Write(receive, "over_the_limit", Bytes(dovrik::kMaxWireMessage + 1, 0x41));

    const fs::path frames = root / "fuzz_frames";
    const FrameTimestamp stamp{24, 5, 17, 8, 30, 0};
    const Bytes play = PackFrame(1, kPlayContentRequest, {'A', 'B', 'C', 'D'});
    const Bytes answer = PackFrame(0xCAFE, kStopMp3Answer, {0x00});
    const Bytes restart = PackFrame(1, kRestartAnswer, {});
    Bytes version(80, 0x30);
    version[0] = 'V';
    Write(frames, "play_short", play);
    Write(frames, "play_long", PackFrame(7, kPlayContentRequest, Bytes(60, 0x41), 3, 2, stamp));
    Write(frames, "answer", answer);
    Write(frames, "restart_answer", restart);
    Write(frames, "version_answer", PackFrame(9, kVersionAnswer, version));
    Write(frames, "status_message", PackFrame(5, kStatusMessage, {0x01, 0x00}));
    const std::string_view text = "OK\r\n";
    Write(frames, "text_between_frames",
          Concat({Bytes(text.begin(), text.end()), answer, Bytes{0x02, 0x11}, play, restart}));
    Bytes damaged = play;
    damaged[damaged.size() - 2] ^= 0x01;
    Write(frames, "damaged_then_good", Concat({damaged, answer}));

    const fs::path report = root / "fuzz_settings_report";
    Write(report, "full_report",
          dovrik::sim::SettingsReport(dovrik::sim::DefaultTerminalSettings()));
    Write(report, "numbers", std::string_view("123,456,"));
    Write(report, "numbers_empty_pieces", std::string_view(",7,,8"));
    Write(report, "lists_only",
          std::string_view(
              "Alarm admin NO:  1,2\r\nAlarm authorize NO:  3\r\nAlarm backup NO:  \r\n"));

    const fs::path numbers = root / "fuzz_number_list";
    Write(numbers, "admin", std::string_view("AT+LRMADDADMINNO=111,222\r"));
    Write(numbers, "authorize", std::string_view("AT+LRMADDLRMNO=5\r"));
    Write(numbers, "backup", std::string_view("AT+LRMADDBKNO=1,,2\r"));
    Write(numbers, "repeat", std::string_view("AT+LRMADDADMINNO=138,138\r"));
    Write(numbers, "empty_last", std::string_view("AT+LRMADDADMINNO=1,,\r"));
    return 0;
}
