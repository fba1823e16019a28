// Time to parse one complete settings report into the settings record.
// The report is built once; each round parses it into the same record, as the
// worker does for every report a terminal sends.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "SettingsParser.h"

namespace {

std::string CompleteReport() {
    const char* const modem[][2] = {
        {"Access Point Name:", " CMNET"},
        {"Center call number", " 13800000000"},
        {"PPP Authentication User Id", " user"},
        {"PPP Authentication Password", " secret"},
        {"Total Servers", " 2"},
        {"Server's Ip", " 120.76.3.4"},
        {"Server's Port", " 5001"},
        {"Server1's Ip", " 120.76.3.4"},
        {"Server1's Port", " 5001"},
        {"Server2's Ip", " 61.4.5.6"},
        {"Server2's Port", " 5002"},
        {"Server3's Ip", " 0.0.0.0"},
        {"Server3's Port", " 0"},
        {"Server4's Ip", " 0.0.0.0"},
        {"Server4's Port", " 0"},
        {"Secondary Server's Ip", " 61.4.5.6"},
        {"Secondary Server's Port", " 5002"},
        {"Work Mode:", " TCP TRANSPARENT"},
        {"Activate Method:", " AUTO ONLINE"},
        {"Serial port commu mode", " 8,N,1"},
        {"Serial Baudrate", " 9600"},
        {"Debug Level", " 1"},
        {"Modem's ID number", " 0000a1b2"},
        {"Modem's Phone Number", " 13912345678"},
        {"Deliver Recved Tcp Data Directly", " YES"},
        {"Should Return To Main Server", " NO"},
        {"Heartbeat poll time seconds:", " 60(0)"},
        {"Dns Server's Ip:", " 202.96.128.86(0)"},
        {"Second Dns Server's Ip:", " 202.96.134.133(0)"},
        {"Dns Server1's Ip:", " 202.96.128.86(0)"},
        {"Dns Server2's Ip:", " 0.0.0.0(0)"},
        {"Dns Server3's Ip:", " 0.0.0.0(0)"},
        {"Dns Server4's Ip:", " 0.0.0.0(0)"},
        {"Sms Center :", " +8613800755500()"},
        {"Tcp act poll time seconds:", " 30(0)"},
        {"Control Phone No.:", " 13911112222(0)"},
        {"Sms Daemon Password:", " 1234(0)"},
        {"Custom Register Info:", " REG(0)"},
        {"Custom Keep Online Info:", " KEEP(0)"},
        {"Bytes Finish Interval(ms):", " 100(0)"},
        {"Data Daemon PPP On Password:", " on(0)"},
        {"Data Daemon PPP Off Password:", " off(0)"},
        {"Link Fail Retry Times:", " 3(0)"},
        {"Wait Time Between Dial Failures:", " 30(0)"},
        {"Max Tcp Frame Len:", " 1024(0)"},
        {"Multi Server Reconnect Interval:", " 20(0)"},
    };
    std::string text;
    for (const auto& line : modem) text += std::string(line[0]) + line[1] + "\r\n";

    // Full lists and texts: the longest report a terminal sends.
    std::string numbers;
    for (int i = 0; i < 255; ++i) numbers += "138" + std::to_string(10000000 + i) + ",";
    for (const char* label : {"Alarm admin NO:  ", "Alarm authorize NO:  ", "Alarm backup NO:  "}) {
        text += std::string(label) + numbers + "\r\n";
    }
    for (const char* label : {"Alarm text1:  ", "Alarm text2:  ", "Alarm text3:  "}) {
        text += std::string(label) + std::string(400, 'T') + "\r\n";
    }
    const char* const alarm[][2] = {
        {"Alarm phone priority:  ", "1"},
        {"Alarm sms priority:  ", "2"},
        {"Alarm gprs priority:  ", "3"},
        {"Alarm mic priority:  ", "4"},
        {"Alarm inter phone priority:  ", "5"},
        {"Alarm fm priority:  ", "6"},
        {"Alarm mp3 priority:  ", "7"},
        {"Alarm local alarm priority:  ", "8"},
        {"Alarm line in priority:  ", "9"},
        {"Alarm sms play number:  ", "3"},
        {"Alarm gprs play number:  ", "2"},
        {"Alarm local alarm play number:  ", "5"},
        {"Alarm is sms response:  ", "1"},
        {"Alarm mcu work function:  ", "GPRS"},
        {"Alarm inter phone open: ", "1"},
        {"Alarm fm freq:  ", "9710"},
        {"Alarm fm snr:  ", "3"},
        {"Alarm fm voice:  ", "12"},
        {"Alarm fm receive enable:  ", "0"},
        {"Alarm mp3 play mode:  ", "1"},
        {"Alarm mp3 play voice:  ", "10"},
        {"Alarm tts play mode:  ", "0"},
        {"Alarm tts play level:  ", "8"},
        {"Alarm tts play speed:  ", "5"},
        {"Alarm tts play tone:  ", "6"},
        {"Alarm is sms state time:  ", "60"},
        {"Alarm is sms backup:  ", "0"},
    };
    for (const auto& line : alarm) text += std::string(line[0]) + line[1] + "\r\n";
    return text + "OK\r\n";
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 20000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else {
            std::printf("Usage: bench_parser [--rounds N]   (default 20000)\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (rounds < 1) return 2;

    const std::string report = CompleteReport();
    pelmora::AlarmSettings record;
    if (!pelmora::ParseSettingsReport(report, record)) {
        std::printf("the benchmark report does not parse completely\n");
        return 1;
    }
    std::vector<double> micros(static_cast<std::size_t>(rounds));
    for (double& sample : micros) {
        const auto start = std::chrono::steady_clock::now();
        pelmora::ParseSettingsReport(report, record);
        const auto stop = std::chrono::steady_clock::now();
        sample = std::chrono::duration<double, std::micro>(stop - start).count();
    }
    double total = 0;
    for (double sample : micros) total += sample;
    std::nth_element(micros.begin(), micros.begin() + rounds / 2, micros.end());

    std::printf("Settings report parse\n");
    std::printf("report: %zu bytes, %d rounds\n", report.size(), rounds);
    std::printf("per parse: mean %.2f us, median %.2f us (target < 50 us)\n", total / rounds,
                micros[static_cast<std::size_t>(rounds / 2)]);
    return 0;
}
