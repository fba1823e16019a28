// A CAP 1.2 alert (the Common Alerting Protocol of OASIS), as an authority's
// system posts it: read from its XML with every element bounded, and refused
// with the name of the element at fault when it is not a valid alert.
// Plain C++; no Qt.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora::gateway {

// Bounds on what an alert may hold; beyond them it is refused.
inline constexpr std::size_t kCapMaxBytes = 1024 * 1024;  // the whole document
inline constexpr std::size_t kCapMaxText = 16 * 1024;     // one element's text, but:
// a polygon's, whose 1,000 pairs of 6 decimals already take some 21 KiB.
inline constexpr std::size_t kCapMaxPolygonText = 64 * 1024;
inline constexpr std::size_t kCapMaxDepth = 16;  // element nesting
inline constexpr std::size_t kCapMaxInfos = 32;
inline constexpr std::size_t kCapMaxAreas = 256;           // in one info
inline constexpr std::size_t kCapMaxGeocodes = 4096;       // in one area
inline constexpr std::size_t kCapMaxPolygonPoints = 1000;  // in one polygon
inline constexpr std::size_t kCapMaxShapes = 256;          // polygons plus circles in one area
inline constexpr std::size_t kCapMaxReferences = 256;

// The standard's words for an info's urgency, severity and certainty.
inline constexpr std::array<std::string_view, 5> kCapUrgencies = {"Immediate", "Expected", "Future",
                                                                  "Past", "Unknown"};
inline constexpr std::array<std::string_view, 5> kCapSeverities = {"Extreme", "Severe", "Moderate",
                                                                   "Minor", "Unknown"};
inline constexpr std::array<std::string_view, 5> kCapCertainties = {
    "Observed", "Likely", "Possible", "Unlikely", "Unknown"};

template <std::size_t N>
bool OneOf(std::string_view value, const std::array<std::string_view, N>& values) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

struct CapPoint {
    double latitude = 0;   // -90 to 90
    double longitude = 0;  // -180 to 180
    bool operator==(const CapPoint&) const = default;
};

struct CapCircle {
    CapPoint centre;
    double radiusKm = 0;  // >= 0
    bool operator==(const CapCircle&) const = default;
};

struct CapGeocode {
    std::string valueName;
    std::string value;
    bool operator==(const CapGeocode&) const = default;
};

struct CapArea {
    std::string areaDesc;
    // Each closed: the first point repeated last; at least 4 points.
    std::vector<std::vector<CapPoint>> polygons;
    std::vector<CapCircle> circles;
    std::vector<CapGeocode> geocodes;
};

// Text as the alert gives it (UTF-8, trimmed); times also as seconds since
// 1970 (0 when absent).
struct CapInfo {
    std::string language = "en-US";  // the standard's default
    std::vector<std::string> categories;
    std::string event;
    std::string urgency;    // Immediate, Expected, Future, Past, Unknown
    std::string severity;   // Extreme, Severe, Moderate, Minor, Unknown
    std::string certainty;  // Observed, Likely, Possible, Unlikely, Unknown
    std::string senderName;
    std::string headline;
    std::string description;
    std::string instruction;
    std::string effective;
    std::string onset;
    std::string expires;
    std::int64_t effectiveAt = 0;
    std::int64_t expiresAt = 0;
    std::vector<CapArea> areas;
};

// An earlier alert an Update or Cancel refers to.
struct CapReference {
    std::string sender;
    std::string identifier;
    std::string sent;
    bool operator==(const CapReference&) const = default;
};

struct CapAlert {
    std::string identifier;
    std::string sender;
    std::string sent;  // as written, the key of the alert with sender and identifier
    std::int64_t sentAt = 0;
    std::string status;   // Actual, Exercise, System, Test, Draft
    std::string msgType;  // Alert, Update, Cancel, Ack, Error
    std::string scope;    // Public, Restricted, Private
    std::vector<CapReference> references;
    std::vector<CapInfo> infos;
};

struct CapParse {
    std::optional<CapAlert> alert;
    // Why it was refused, naming the element at fault ("sent: not a date and
    // time", "info[2]/area[1]/polygon: not closed"); empty when read.
    std::string error;
};

// Reads one alert. Never loads a DTD or an external entity; a document with
// a DOCTYPE is refused. Draft alerts are read (the caller refuses them).
CapParse ParseCap(std::string_view xml);

// A CAP date and time ("2026-12-10T08:30:00+08:00"; "-00:00" for UTC) as
// seconds since 1970. Only that form is taken: no "Z" (CAP allows no letter
// for the zone), no fractions of a second, no offset beyond 14 hours.
std::optional<std::int64_t> ParseCapTime(std::string_view text);

// The info to use: the first whose language is zh-CN (any case), otherwise
// the first; null when there is none.
const CapInfo* PreferredInfo(const CapAlert& alert);

}  // namespace pelmora::gateway
