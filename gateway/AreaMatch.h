// Which terminals of the registry an alert's area takes: geocodes of the
// configured kind by region-code prefix (a county's code takes its towns and
// villages), polygons and circles by the terminal's coordinates. A terminal
// without coordinates is matched by its code only. The union over every info
// and area of the alert. Plain C++; no Qt.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "Cap.h"
#include "Store.h"

namespace pelmora::gateway {

inline constexpr char kDefaultGeocodeName[] = "行政区划代码";

// Sorted, each terminal once.
std::vector<std::uint32_t> MatchArea(
    const CapAlert& alert, const std::unordered_map<std::uint32_t, store::Terminal>& registry,
    const std::string& geocodeName = kDefaultGeocodeName);

// Geometry, exposed for tests: the point inside the closed polygon (on its
// edge counts as inside), and within the circle (great-circle distance).
bool InPolygon(const CapPoint& point, const std::vector<CapPoint>& polygon);
bool InCircle(const CapPoint& point, const CapCircle& circle);

}  // namespace pelmora::gateway
