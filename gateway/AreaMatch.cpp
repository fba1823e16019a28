// Area matching. Geocodes: the values are sorted once and those another value
// already covers are dropped, so one binary search per terminal finds the only
// value that can be a prefix of its code. Polygons: a bounding box first, then
// only the edges of the point's latitude band. Circles: a bounding box, then
// the haversine distance. Shapes across the antimeridian (longitude jumping
// from 180 to -180) are not handled: the authority's areas lie far from it.
#include "AreaMatch.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <ranges>
#include <string_view>

namespace pelmora::gateway {
namespace {

constexpr double kEarthRadiusKm = 6371.0;
// How far from an edge a point still counts as on it, in degrees (about a
// centimetre): coordinates written in decimal are rarely exact in binary.
constexpr double kOnEdge = 1e-7;

struct Box {
    double minLat = 90, maxLat = -90, minLon = 180, maxLon = -180;
    bool Holds(const CapPoint& p) const {
        return p.latitude >= minLat && p.latitude <= maxLat && p.longitude >= minLon &&
               p.longitude <= maxLon;
    }
};

// One edge of the even-odd test: whether `p` lies on it, and otherwise
// whether the ray from `p` towards growing longitude crosses it.
enum class Edge { kMiss, kCross, kOn };

Edge TestEdge(const CapPoint& p, const CapPoint& a, const CapPoint& b) {
    const double dx = b.longitude - a.longitude, dy = b.latitude - a.latitude;
    const double px = p.longitude - a.longitude, py = p.latitude - a.latitude;
    if (p.latitude >= std::min(a.latitude, b.latitude) - kOnEdge &&
        p.latitude <= std::max(a.latitude, b.latitude) + kOnEdge &&
        p.longitude >= std::min(a.longitude, b.longitude) - kOnEdge &&
        p.longitude <= std::max(a.longitude, b.longitude) + kOnEdge) {
        const double cross = dx * py - dy * px;
        if (std::abs(cross) <= kOnEdge * std::hypot(dx, dy)) return Edge::kOn;
    }
    if ((a.latitude > p.latitude) != (b.latitude > p.latitude)) {
        const double x = a.longitude + py * dx / dy;
        if (p.longitude < x) return Edge::kCross;
    }
    return Edge::kMiss;
}

// The even-odd test over the edges that start at `starts` (edge i runs from
// point i to point i + 1); on an edge counts as inside.
template <class Starts>
bool EvenOdd(const CapPoint& p, const std::vector<CapPoint>& points, const Starts& starts) {
    bool inside = false;
    for (const auto i : starts) {
        switch (TestEdge(p, points[i], points[i + 1])) {
            case Edge::kOn:
                return true;
            case Edge::kCross:
                inside = !inside;
                break;
            case Edge::kMiss:
                break;
        }
    }
    return inside;
}

// A polygon ready for many points: its box, and for each latitude band the
// edges that reach into it. An edge outside a point's band can neither hold
// the point nor cross its ray, so the answer is the one InPolygon gives.
class PreparedPolygon {
  public:
    explicit PreparedPolygon(const std::vector<CapPoint>& points) : points_(points) {
        for (const CapPoint& p : points) {
            box_.minLat = std::min(box_.minLat, p.latitude);
            box_.maxLat = std::max(box_.maxLat, p.latitude);
            box_.minLon = std::min(box_.minLon, p.longitude);
            box_.maxLon = std::max(box_.maxLon, p.longitude);
        }
        box_.minLat -= kOnEdge;
        box_.maxLat += kOnEdge;
        box_.minLon -= kOnEdge;
        box_.maxLon += kOnEdge;
        const std::size_t edges = points.size() < 2 ? 0 : points.size() - 1;
        bands_.resize(std::clamp<std::size_t>(edges / 2, 1, 1024));
        scale_ = static_cast<double>(bands_.size()) / (box_.maxLat - box_.minLat);
        for (std::size_t i = 0; i < edges; ++i) {
            const double low = std::min(points[i].latitude, points[i + 1].latitude) - kOnEdge;
            const double high = std::max(points[i].latitude, points[i + 1].latitude) + kOnEdge;
            for (std::size_t band = Band(low); band <= Band(high); ++band)
                bands_[band].push_back(static_cast<std::uint32_t>(i));
        }
    }

    bool Holds(const CapPoint& p) const {
        return box_.Holds(p) && EvenOdd(p, points_, bands_[Band(p.latitude)]);
    }

  private:
    std::size_t Band(double latitude) const {
        const double at = std::floor((latitude - box_.minLat) * scale_);
        if (!(at > 0)) return 0;
        return std::min(static_cast<std::size_t>(at), bands_.size() - 1);
    }

    const std::vector<CapPoint>& points_;
    Box box_;
    double scale_ = 0;
    std::vector<std::vector<std::uint32_t>> bands_;
};

// The box around a circle; the whole longitude range near a pole or where it
// would pass the antimeridian.
Box CircleBox(const CapCircle& circle) {
    constexpr double kDegrees = 180.0 / std::numbers::pi;
    const double angle = circle.radiusKm / kEarthRadiusKm;  // radians
    const double lat = circle.centre.latitude, lon = circle.centre.longitude;
    // A little more than the exact box, for rounding.
    const double dLat = angle * kDegrees * 1.000001 + 1e-9;
    Box box{std::max(-90.0, lat - dLat), std::min(90.0, lat + dLat), -180, 180};
    const double cosLat = std::cos(lat / kDegrees);
    if (angle < std::numbers::pi / 2 && std::abs(lat) + dLat < 90 && std::sin(angle) < cosLat) {
        const double dLon = std::asin(std::sin(angle) / cosLat) * kDegrees * 1.000001 + 1e-9;
        if (lon - dLon >= -180 && lon + dLon <= 180) {
            box.minLon = lon - dLon;
            box.maxLon = lon + dLon;
        }
    }
    return box;
}

bool Valid(const store::Terminal& terminal) {
    return terminal.latitude && terminal.longitude && std::isfinite(*terminal.latitude) &&
           std::isfinite(*terminal.longitude) && std::abs(*terminal.latitude) <= 90 &&
           std::abs(*terminal.longitude) <= 180;
}

}  // namespace

bool InPolygon(const CapPoint& point, const std::vector<CapPoint>& polygon) {
    if (polygon.size() < 2) return false;
    return EvenOdd(point, polygon, std::views::iota(std::size_t{0}, polygon.size() - 1));
}

bool InCircle(const CapPoint& point, const CapCircle& circle) {
    constexpr double kRadians = std::numbers::pi / 180.0;
    const double lat1 = point.latitude * kRadians, lat2 = circle.centre.latitude * kRadians;
    const double dLat = lat2 - lat1;
    const double dLon = (circle.centre.longitude - point.longitude) * kRadians;
    const double s = std::sin(dLat / 2), t = std::sin(dLon / 2);
    const double h = std::clamp(s * s + std::cos(lat1) * std::cos(lat2) * t * t, 0.0, 1.0);
    return 2 * kEarthRadiusKm * std::asin(std::sqrt(h)) <= circle.radiusKm;
}

std::vector<std::uint32_t> MatchArea(
    const CapAlert& alert, const std::unordered_map<std::uint32_t, store::Terminal>& registry,
    const std::string& geocodeName) {
    std::vector<std::string_view> codes;
    std::vector<PreparedPolygon> polygons;
    std::vector<std::pair<const CapCircle*, Box>> circles;
    for (const CapInfo& info : alert.infos) {
        for (const CapArea& area : info.areas) {
            for (const CapGeocode& geocode : area.geocodes)
                if (geocode.valueName == geocodeName && !geocode.value.empty())
                    codes.push_back(geocode.value);
            for (const auto& polygon : area.polygons)
                if (polygon.size() >= 2) polygons.emplace_back(polygon);
            for (const CapCircle& circle : area.circles)
                circles.emplace_back(&circle, CircleBox(circle));
        }
    }
    // Sorted, and without the values a shorter one already covers: then only
    // the greatest value not after a code can be its prefix.
    std::sort(codes.begin(), codes.end());
    std::size_t kept = 0;
    for (const std::string_view code : codes)
        if (kept == 0 || code.substr(0, codes[kept - 1].size()) != codes[kept - 1])
            codes[kept++] = code;
    codes.resize(kept);
    const auto byCode = [&](const std::string& code) {
        const auto after = std::upper_bound(codes.begin(), codes.end(), std::string_view(code));
        if (after == codes.begin()) return false;
        const std::string_view value = *std::prev(after);
        return std::string_view(code).substr(0, value.size()) == value;
    };
    const bool anyShape = !polygons.empty() || !circles.empty();

    std::vector<std::uint32_t> matched;
    for (const auto& [id, terminal] : registry) {
        bool taken = !codes.empty() && byCode(terminal.regionCode);
        if (!taken && anyShape && Valid(terminal)) {
            const CapPoint at{*terminal.latitude, *terminal.longitude};
            for (const PreparedPolygon& polygon : polygons)
                if ((taken = polygon.Holds(at))) break;
            for (std::size_t i = 0; !taken && i < circles.size(); ++i)
                taken = circles[i].second.Holds(at) && InCircle(at, *circles[i].first);
        }
        if (taken) matched.push_back(id);
    }
    std::sort(matched.begin(), matched.end());
    return matched;
}

}  // namespace pelmora::gateway
