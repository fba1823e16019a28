// An alert as the authority's system posts it: any bytes are either read
// into an alert that keeps every bound, or refused with the element at fault.
// What is read is matched against a small registry (the fast way must agree
// with the plain geometry) and filled into the content template.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "AreaMatch.h"
#include "Cap.h"
#include "CapContent.h"
#include "FuzzCheck.h"

namespace {

using pelmora::gateway::CapAlert;
using pelmora::gateway::CapPoint;

const std::unordered_map<std::uint32_t, pelmora::store::Terminal>& Registry() {
    static const auto registry = [] {
        std::unordered_map<std::uint32_t, pelmora::store::Terminal> terminals;
        const char* codes[] = {"420102001001", "420102", "4201", "", "420105001002", "1", "12"};
        std::uint32_t id = 1;
        for (const char* code : codes) {
            for (const double latitude : {0.0, 0.5, 1.0, 30.55, -45.0, 90.0}) {
                pelmora::store::Terminal terminal;
                terminal.deviceId = id;
                terminal.regionCode = code;
                if (id % 5 != 0) terminal.latitude = latitude;
                if (id % 7 != 0) terminal.longitude = latitude * 1.9 - 1;
                terminals.emplace(id++, terminal);
            }
        }
        return terminals;
    }();
    return registry;
}

void CheckBounds(const CapAlert& alert) {
    using namespace pelmora::gateway;
    FUZZ_CHECK(!alert.identifier.empty() && !alert.sender.empty() && !alert.sent.empty());
    FUZZ_CHECK(ParseCapTime(alert.sent) == alert.sentAt);
    FUZZ_CHECK(alert.references.size() <= kCapMaxReferences);
    FUZZ_CHECK(alert.infos.size() <= kCapMaxInfos);
    for (const CapInfo& info : alert.infos) {
        FUZZ_CHECK(!info.categories.empty() && info.areas.size() <= kCapMaxAreas);
        FUZZ_CHECK(info.description.size() <= kCapMaxText);
        for (const CapArea& area : info.areas) {
            FUZZ_CHECK(area.polygons.size() + area.circles.size() <= kCapMaxShapes);
            FUZZ_CHECK(area.geocodes.size() <= kCapMaxGeocodes);
            for (const auto& polygon : area.polygons) {
                FUZZ_CHECK(polygon.size() >= 4 && polygon.size() <= kCapMaxPolygonPoints);
                FUZZ_CHECK(polygon.front() == polygon.back());
                for (const CapPoint& p : polygon)
                    FUZZ_CHECK(p.latitude >= -90 && p.latitude <= 90 && p.longitude >= -180 &&
                               p.longitude <= 180);
            }
            for (const CapCircle& circle : area.circles) FUZZ_CHECK(circle.radiusKm >= 0);
        }
    }
}

// The terminals the alert takes, the plain way: every value, every shape.
std::vector<std::uint32_t> PlainMatch(const CapAlert& alert) {
    using namespace pelmora::gateway;
    std::vector<std::uint32_t> matched;
    for (const auto& [id, terminal] : Registry()) {
        bool taken = false;
        for (const CapInfo& info : alert.infos) {
            for (const CapArea& area : info.areas) {
                for (const CapGeocode& geocode : area.geocodes)
                    taken = taken ||
                            (geocode.valueName == kDefaultGeocodeName && !geocode.value.empty() &&
                             terminal.regionCode.starts_with(geocode.value));
                if (!terminal.latitude || !terminal.longitude) continue;
                const CapPoint at{*terminal.latitude, *terminal.longitude};
                for (const auto& polygon : area.polygons) taken = taken || InPolygon(at, polygon);
                for (const CapCircle& circle : area.circles) taken = taken || InCircle(at, circle);
            }
        }
        if (taken) matched.push_back(id);
    }
    std::sort(matched.begin(), matched.end());
    return matched;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelmora::gateway;
    const std::string_view xml(reinterpret_cast<const char*>(data), size);
    const CapParse parsed = ParseCap(xml);
    FUZZ_CHECK(parsed.alert.has_value() == parsed.error.empty());
    if (!parsed.alert) {
        FUZZ_CHECK(parsed.error.find(": ") != std::string::npos && parsed.error.size() < 512);
        return 0;
    }
    const CapAlert& alert = *parsed.alert;
    CheckBounds(alert);
    FUZZ_CHECK(MatchArea(alert, Registry()) == PlainMatch(alert));

    const CapInfo* info = PreferredInfo(alert);
    FUZZ_CHECK((info == nullptr) == alert.infos.empty());
    if (info == nullptr) return 0;
    const std::string content = FillTemplate(
        "{senderName}{headline} {instruction}{event}{description}{areaDesc}{effective}{expires}{x",
        *info);
    FUZZ_CHECK(content.find("  ") == std::string::npos);
    FUZZ_CHECK(content.empty() || (content.front() != ' ' && content.back() != ' '));
    std::string error;
    const AutoDispatch policy =
        AutoDispatch::Parse(info->severity + "+" + info->urgency + "+" + info->certainty, &error);
    FUZZ_CHECK(error.empty() && policy.Allows(*info));
    return 0;
}
