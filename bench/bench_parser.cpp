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
#include "SettingsReport.h"

namespace {

// The longest report a terminal sends: three full number lists and three
// preset texts of 400 bytes.
std::string LongestReport() {
    pelmora::AlarmSettings terminal = dovrik::sim::DefaultTerminalSettings();
    for (pelmora::NumberList* list :
         {&terminal.adminNumbers, &terminal.authorizeNumbers, &terminal.backupNumbers}) {
        for (std::size_t i = 0; i < list->size(); ++i)
            (*list)[i] = "138" + std::to_string(10000000 + i);
    }
    terminal.text1 = terminal.text2 = terminal.text3 = std::string(400, 'T');
    return dovrik::sim::SettingsReport(terminal);
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

    const std::string report = LongestReport();
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
