// Which terminals an alert takes: 100,000 terminals spread over a province,
// with region codes of counties, towns and villages, against one alert of a
// 1,000-point polygon and 20 region codes. Times MatchArea, the plain way
// (every edge and every code for every terminal) once for comparison, and
// reading the alert's XML.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "AreaMatch.h"
#include "Cap.h"

namespace {

using Clock = std::chrono::steady_clock;
using Registry = std::unordered_map<std::uint32_t, pelmora::store::Terminal>;

constexpr double kSouth = 29.0, kNorth = 33.3, kWest = 108.3, kEast = 116.1;

double Millis(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

std::string Digits(int value, int width) {
    std::string text = std::to_string(value);
    return std::string(static_cast<std::size_t>(width) - std::min<std::size_t>(text.size(), width),
                       '0') +
           text;
}

// 17 cities of 6 counties, 20 towns each, 30 villages each: a tenth of the
// terminals registered by county, three tenths by town, the rest by village;
// one in twenty without coordinates.
Registry MakeRegistry(std::uint32_t count, std::mt19937& random) {
    std::uniform_int_distribution<int> city(1, 17), county(1, 6), town(1, 20), village(1, 30),
        kind(0, 9);
    std::uniform_real_distribution<double> lat(kSouth, kNorth), lon(kWest, kEast);
    Registry registry;
    registry.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        pelmora::store::Terminal t;
        t.deviceId = 0x20000000u + i;
        t.regionCode = "42" + Digits(city(random), 2) + Digits(county(random), 2);
        const int k = kind(random);
        if (k >= 1) t.regionCode += Digits(town(random), 3);
        if (k >= 4) t.regionCode += Digits(village(random), 3);
        if (i % 20 != 0) {
            t.latitude = lat(random);
            t.longitude = lon(random);
        }
        registry.emplace(t.deviceId, std::move(t));
    }
    return registry;
}

// The alert as the authority posts it: an irregular, concave ring of 999
// corners (the first repeated last) around the middle of the province, and
// 20 region codes of counties, towns and villages.
std::string MakeAlert(std::mt19937& random) {
    std::uniform_real_distribution<double> wobble(0.55, 1.0);
    std::string polygon;
    const double midLat = (kSouth + kNorth) / 2, midLon = (kWest + kEast) / 2;
    std::string first;
    for (int i = 0; i < 999; ++i) {
        const double angle = 2 * std::numbers::pi * i / 999;
        const double reach = 1.8 * wobble(random) * (i % 50 < 25 ? 1.0 : 0.7);
        char point[64];
        std::snprintf(point, sizeof point, "%.5f,%.5f", midLat + reach * std::sin(angle) * 0.9,
                      midLon + reach * std::cos(angle) * 1.6);
        if (i == 0) first = point;
        polygon += point;
        polygon += ' ';
    }
    polygon += first;
    std::string geocodes;
    for (int i = 0; i < 20; ++i) {
        std::string code = "42" + Digits(1 + i % 17, 2) + Digits(1 + i % 6, 2);
        if (i % 3 >= 1) code += Digits(1 + i, 3);
        if (i % 3 == 2) code += Digits(1 + i, 3);
        geocodes +=
            "<geocode><valueName>行政区划代码</valueName><value>" + code + "</value></geocode>\n";
    }
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<alert xmlns="urn:oasis:names:tc:emergency:cap:1.2">
<identifier>42000041600000_20261210083000</identifier>
<sender>qxt@hb.example.cn</sender>
<sent>2026-12-10T08:30:00+08:00</sent>
<status>Actual</status>
<msgType>Alert</msgType>
<scope>Public</scope>
<info>
<language>zh-CN</language>
<category>Met</category>
<event>暴雨</event>
<urgency>Immediate</urgency>
<severity>Extreme</severity>
<certainty>Observed</certainty>
<senderName>湖北省气象台</senderName>
<headline>暴雨红色预警</headline>
<instruction>请立即转移到安全地带。</instruction>
<area>
<areaDesc>江汉平原</areaDesc>
<polygon>)" +
           polygon + "</polygon>\n" + geocodes + "</area>\n</info>\n</alert>\n";
}

std::vector<std::uint32_t> PlainMatch(const pelmora::gateway::CapAlert& alert,
                                      const Registry& registry) {
    using namespace pelmora::gateway;
    std::vector<std::uint32_t> matched;
    const CapArea& area = alert.infos.at(0).areas.at(0);
    for (const auto& [id, t] : registry) {
        bool taken = false;
        for (const CapGeocode& g : area.geocodes)
            taken = taken || t.regionCode.starts_with(g.value);
        if (!taken && t.latitude && t.longitude)
            taken = InPolygon({*t.latitude, *t.longitude}, area.polygons.at(0));
        if (taken) matched.push_back(id);
    }
    std::sort(matched.begin(), matched.end());
    return matched;
}

struct Figures {
    double median = 0, worst = 0;
};

template <typename Run>
Figures Time(int runs, Run run) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        const auto started = Clock::now();
        run();
        samples.push_back(Millis(started));
    }
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.back()};
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 11;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else {
            std::printf("Usage: bench_area_match [--runs N]   (default 11)\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (runs < 1) return 2;

    std::mt19937 random(20261210);
    const Registry registry = MakeRegistry(100'000, random);
    const std::string xml = MakeAlert(random);
    const pelmora::gateway::CapParse parsed = pelmora::gateway::ParseCap(xml);
    if (!parsed.alert) {
        std::printf("the benchmark alert is refused: %s\n", parsed.error.c_str());
        return 1;
    }
    const pelmora::gateway::CapAlert& alert = *parsed.alert;

    std::vector<std::uint32_t> matched;
    const Figures match =
        Time(runs, [&] { matched = pelmora::gateway::MatchArea(alert, registry); });
    std::vector<std::uint32_t> plain;
    const Figures plainFigures = Time(1, [&] { plain = PlainMatch(alert, registry); });
    const Figures parse = Time(runs, [&] { (void)pelmora::gateway::ParseCap(xml); });

    const bool agree = matched == plain, fast = match.median <= 50;
    std::printf("Area matching: %zu terminals, a %zu-point polygon and %zu region codes\n",
                registry.size(), alert.infos[0].areas[0].polygons[0].size(),
                alert.infos[0].areas[0].geocodes.size());
    std::printf("terminals taken: %zu (the plain way: %zu, %s)\n", matched.size(), plain.size(),
                agree ? "the same" : "DIFFERENT");
    std::printf("MatchArea over %d runs: median %.2f ms, worst %.2f ms (target <= 50 ms) %s\n",
                runs, match.median, match.worst, fast ? "PASS" : "FAIL");
    std::printf("the plain way, once: %.2f ms\n", plainFigures.median);
    std::printf("ParseCap of the alert (%zu bytes) over %d runs: median %.3f ms, worst %.3f ms\n",
                xml.size(), runs, parse.median, parse.worst);
    return agree && fast ? 0 : 1;
}
