// Reading a CAP 1.2 alert. The document is checked as bytes first (size,
// UTF-8, no DOCTYPE), then parsed by pugixml, then walked once for its depth
// and the length of every text, and only then read element by element. Any
// fault stops the reading with the path of the element at fault.
#include "Cap.h"

#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace pelmora::gateway {
namespace {

constexpr std::string_view kCapNamespace = "urn:oasis:names:tc:emergency:cap:1.2";

constexpr std::array<std::string_view, 5> kStatuses = {"Actual", "Exercise", "System", "Test",
                                                       "Draft"};
constexpr std::array<std::string_view, 5> kMsgTypes = {"Alert", "Update", "Cancel", "Ack", "Error"};
constexpr std::array<std::string_view, 3> kScopes = {"Public", "Restricted", "Private"};
constexpr std::array<std::string_view, 12> kCategories = {
    "Geo",    "Met", "Safety",    "Security", "Rescue", "Fire",
    "Health", "Env", "Transport", "Infra",    "CBRNE",  "Other"};
constexpr std::array<std::string_view, 9> kResponseTypes = {
    "Shelter", "Evacuate", "Prepare", "Execute", "Avoid", "Monitor", "Assess", "AllClear", "None"};

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsXmlSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsXmlSpace(text.back())) text.remove_suffix(1);
    return text;
}

enum class TextFault { kNone, kNotUtf8, kControl };

// Strict UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF), and
// none of the control characters XML 1.0 forbids. `at` gets the byte offset.
TextFault CheckText(std::string_view text, std::size_t* at) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        *at = i;
        const unsigned char c = s[i];
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return TextFault::kControl;
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return TextFault::kNotUtf8;
        }
        if (n - i < length) return TextFault::kNotUtf8;
        if (s[i + 1] < low || s[i + 1] > high) return TextFault::kNotUtf8;
        for (std::size_t k = 2; k < length; ++k)
            if (s[i + k] < 0x80 || s[i + k] > 0xBF) return TextFault::kNotUtf8;
        i += length;
    }
    return TextFault::kNone;
}

// A value quoted for an error text: at most 60 bytes, cut on a character.
std::string Quote(std::string_view value) {
    constexpr std::size_t kMax = 60;
    if (value.size() <= kMax) return "\"" + std::string(value) + "\"";
    std::size_t cut = kMax;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
    return "\"" + std::string(value.substr(0, cut)) + "...\"";
}

bool ContainsNoCase(std::string_view text, std::string_view word) {
    if (word.size() > text.size()) return false;
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        bool same = true;
        for (std::size_t k = 0; k < word.size() && same; ++k) {
            const char a = text[i + k], b = word[k];
            same = a == b || (a >= 'a' && a <= 'z' && a - 'a' + 'A' == b);
        }
        if (same) return true;
    }
    return false;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// A decimal number, all of the text; a leading '+' is allowed.
std::optional<double> Number(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+') return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// "lat,lon" in WGS 84 degrees; `why` names what is wrong.
bool ParsePoint(std::string_view text, CapPoint* point, std::string* why) {
    const std::size_t comma = text.find(',');
    const auto latitude =
        comma == std::string_view::npos ? std::nullopt : Number(text.substr(0, comma));
    const auto longitude =
        comma == std::string_view::npos ? std::nullopt : Number(text.substr(comma + 1));
    if (!latitude || !longitude) {
        *why = Quote(text) + " is not a latitude,longitude pair";
        return false;
    }
    if (*latitude < -90 || *latitude > 90) {
        *why = "latitude " + Quote(text.substr(0, comma)) + " out of range";
        return false;
    }
    if (*longitude < -180 || *longitude > 180) {
        *why = "longitude " + Quote(text.substr(comma + 1)) + " out of range";
        return false;
    }
    *point = {*latitude, *longitude};
    return true;
}

// Calls `each` with every run of text between white space; stops when it
// returns false.
template <typename Each>
void ForEachWord(std::string_view text, Each each) {
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsXmlSpace(text[i])) ++i;
        std::size_t end = i;
        while (end < text.size() && !IsXmlSpace(text[end])) ++end;
        if (end > i && !each(text.substr(i, end - i))) return;
        i = end;
    }
}

bool ParsePolygon(std::string_view text, std::vector<CapPoint>* polygon, std::string* why) {
    polygon->clear();
    bool ok = true;
    ForEachWord(text, [&](std::string_view word) {
        if (polygon->size() == kCapMaxPolygonPoints) {
            *why = "more than " + std::to_string(kCapMaxPolygonPoints) + " points";
            return ok = false;
        }
        CapPoint point;
        if (!ParsePoint(word, &point, why)) return ok = false;
        polygon->push_back(point);
        return true;
    });
    if (!ok) return false;
    if (polygon->size() < 4) {
        *why = "fewer than 4 points";
        return false;
    }
    if (polygon->front() != polygon->back()) {
        *why = "not closed";
        return false;
    }
    return true;
}

bool ParseCircle(std::string_view text, CapCircle* circle, std::string* why) {
    std::vector<std::string_view> words;
    ForEachWord(text, [&](std::string_view word) {
        words.push_back(word);
        return words.size() <= 2;
    });
    if (words.size() != 2) {
        *why = Quote(text) + " is not \"latitude,longitude radius\"";
        return false;
    }
    if (!ParsePoint(words[0], &circle->centre, why)) return false;
    const auto radius = Number(words[1]);
    if (!radius || *radius < 0) {
        *why = "radius " + Quote(words[1]) + " is not a distance in km";
        return false;
    }
    circle->radiusKm = *radius;
    return true;
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The text of an element: its text and CDATA children, trimmed.
std::string ElementText(pugi::xml_node element) {
    std::string text;
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            text += child.value();
    }
    return std::string(Trim(text));
}

class Reader {
  public:
    std::optional<CapAlert> Read(std::string_view xml);
    std::string error;

  private:
    bool Fail(const std::string& path, const std::string& what) {
        error = path + ": " + what;
        return false;
    }
    std::string_view Local(pugi::xml_node node) const;
    std::size_t TextLimit(pugi::xml_node element) const {
        return Local(element) == "polygon" ? kCapMaxPolygonText : kCapMaxText;
    }
    std::string PathOf(pugi::xml_node node) const;
    bool CheckBounds(pugi::xml_node root);
    bool CheckRoot(const pugi::xml_document& document);
    std::size_t Count(pugi::xml_node parent, std::string_view name) const;
    // The trimmed text of the single child `name` into `out`; absent leaves
    // `out` as it is, which is a fault when `required`.
    bool Single(pugi::xml_node parent, std::string_view name, const std::string& path,
                bool required, std::string* out);
    bool Text(pugi::xml_node element, const std::string& path, std::string* out);
    template <std::size_t N>
    bool Enumerated(pugi::xml_node parent, std::string_view name, const std::string& path,
                    const std::array<std::string_view, N>& values, const char* kind,
                    std::string* out);
    bool Identifier(pugi::xml_node parent, std::string_view name, std::string* out);
    bool Time(pugi::xml_node parent, std::string_view name, const std::string& path,
              std::string* text, std::int64_t* at);
    bool References(pugi::xml_node root, CapAlert* alert);
    bool ReadInfo(pugi::xml_node node, const std::string& path, CapInfo* info);
    bool ReadArea(pugi::xml_node node, const std::string& path, CapArea* area);

    std::string prefix_;  // the root's namespace prefix with its ':', or empty
};

std::string_view Reader::Local(pugi::xml_node node) const {
    const std::string_view name = node.name();
    if (prefix_.empty())
        return name.find(':') == std::string_view::npos ? name : std::string_view();
    if (name.size() > prefix_.size() && name.substr(0, prefix_.size()) == prefix_)
        return name.substr(prefix_.size());
    return {};  // another namespace's element: not ours
}

// "info[1]/area[2]/polygon": every step below the root with its place among
// its namesakes, the last without.
std::string Reader::PathOf(pugi::xml_node node) const {
    std::vector<std::string> steps;
    for (pugi::xml_node at = node; at && at.parent() && at.parent().type() != pugi::node_document;
         at = at.parent()) {
        std::string step(Local(at).empty() ? std::string_view(at.name()) : Local(at));
        if (at != node) {
            std::size_t place = 1;
            for (pugi::xml_node before = at.previous_sibling(); before;
                 before = before.previous_sibling())
                place += std::string_view(before.name()) == at.name();
            step += "[" + std::to_string(place) + "]";
        }
        steps.push_back(std::move(step));
    }
    if (steps.empty()) return "alert";
    std::string path;
    for (auto step = steps.rbegin(); step != steps.rend(); ++step)
        path += (path.empty() ? "" : "/") + *step;
    return path;
}

// Every element within the depth bound, every run of text within its length;
// a walk without recursion so that no document can exhaust the stack.
bool Reader::CheckBounds(pugi::xml_node root) {
    pugi::xml_node node = root;
    std::size_t depth = 1;
    for (;;) {
        if (node.type() == pugi::node_element && depth > kCapMaxDepth)
            return Fail(PathOf(node),
                        "nested deeper than " + std::to_string(kCapMaxDepth) + " elements");
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
            const std::size_t limit = TextLimit(node.parent());
            if (std::char_traits<char>::length(node.value()) > limit)
                return Fail(PathOf(node.parent()),
                            "longer than " + std::to_string(limit) + " bytes");
        }
        if (node.type() == pugi::node_element && node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (node != root && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        if (node == root) return true;
        node = node.next_sibling();
    }
}

bool Reader::CheckRoot(const pugi::xml_document& document) {
    for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_doctype) return Fail("alert", "a DOCTYPE is not accepted");
        if (node.type() == pugi::node_declaration) {
            const std::string_view encoding = node.attribute("encoding").value();
            if (!encoding.empty() && !EqualNoCase(encoding, "UTF-8"))
                return Fail("alert", "encoding " + Quote(encoding) + " is not UTF-8");
        }
    }
    const pugi::xml_node root = document.document_element();
    const std::string_view name = root.name();
    const std::size_t colon = name.find(':');
    const std::string_view local = colon == std::string_view::npos ? name : name.substr(colon + 1);
    if (local != "alert") return Fail("alert", "missing (the root element is " + Quote(name) + ")");
    prefix_ = colon == std::string_view::npos ? "" : std::string(name.substr(0, colon + 1));
    const std::string declaration =
        prefix_.empty() ? "xmlns" : "xmlns:" + prefix_.substr(0, prefix_.size() - 1);
    const pugi::xml_attribute space = root.attribute(declaration.c_str());
    if (!space) return Fail("alert", "not in the CAP 1.2 namespace");
    if (space.value() != kCapNamespace)
        return Fail("alert", "namespace " + Quote(space.value()) + " is not CAP 1.2");
    return true;
}

std::size_t Reader::Count(pugi::xml_node parent, std::string_view name) const {
    std::size_t count = 0;
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling())
        count += child.type() == pugi::node_element && Local(child) == name;
    return count;
}

bool Reader::Text(pugi::xml_node element, const std::string& path, std::string* out) {
    std::string text = ElementText(element);
    // The bounds walk saw each run; several runs together may still be long.
    const std::size_t limit = TextLimit(element);
    if (text.size() > limit) return Fail(path, "longer than " + std::to_string(limit) + " bytes");
    // Character references may still make what UTF-8 cannot hold.
    std::size_t at = 0;
    if (CheckText(text, &at) != TextFault::kNone) return Fail(path, "not valid UTF-8 text");
    *out = std::move(text);
    return true;
}

bool Reader::Single(pugi::xml_node parent, std::string_view name, const std::string& path,
                    bool required, std::string* out) {
    pugi::xml_node found;
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element || Local(child) != name) continue;
        if (found) return Fail(path, "more than once");
        found = child;
    }
    if (!found) return required ? Fail(path, "missing") : true;
    if (!Text(found, path, out)) return false;
    if (required && out->empty()) return Fail(path, "empty");
    return true;
}

template <std::size_t N>
bool Reader::Enumerated(pugi::xml_node parent, std::string_view name, const std::string& path,
                        const std::array<std::string_view, N>& values, const char* kind,
                        std::string* out) {
    if (!Single(parent, name, path, true, out)) return false;
    if (!OneOf(*out, values)) return Fail(path, Quote(*out) + " is not a CAP " + kind);
    return true;
}

// The identifier and the sender make the references of later alerts, so
// they may hold no space, comma, '<' or '&'.
bool Reader::Identifier(pugi::xml_node parent, std::string_view name, std::string* out) {
    const std::string path(name);
    if (!Single(parent, name, path, true, out)) return false;
    if (out->find_first_of(" \t\r\n,<&") != std::string::npos)
        return Fail(path, Quote(*out) + " contains a space, comma, < or &");
    return true;
}

bool Reader::Time(pugi::xml_node parent, std::string_view name, const std::string& path,
                  std::string* text, std::int64_t* at) {
    if (!Single(parent, name, path, name == "sent", text)) return false;
    if (text->empty()) return true;
    const auto seconds = ParseCapTime(*text);
    if (!seconds)
        return Fail(path, Quote(*text) + " is not a date and time (YYYY-MM-DDThh:mm:ss+hh:mm)");
    *at = *seconds;
    return true;
}

bool Reader::References(pugi::xml_node root, CapAlert* alert) {
    std::string text;
    if (!Single(root, "references", "references", false, &text)) return false;
    bool ok = true;
    ForEachWord(text, [&](std::string_view word) {
        if (alert->references.size() == kCapMaxReferences) {
            ok = Fail("references", "more than " + std::to_string(kCapMaxReferences));
            return false;
        }
        const std::size_t first = word.find(','), second = word.find(',', first + 1);
        const bool three = first != std::string_view::npos && second != std::string_view::npos &&
                           word.find(',', second + 1) == std::string_view::npos;
        CapReference reference;
        if (three) {
            reference = {std::string(word.substr(0, first)),
                         std::string(word.substr(first + 1, second - first - 1)),
                         std::string(word.substr(second + 1))};
        }
        if (!three || reference.sender.empty() || reference.identifier.empty() ||
            !ParseCapTime(reference.sent)) {
            ok = Fail("references", Quote(word) + " is not sender,identifier,sent");
            return false;
        }
        alert->references.push_back(std::move(reference));
        return true;
    });
    return ok;
}

bool Reader::ReadArea(pugi::xml_node node, const std::string& path, CapArea* area) {
    if (!Single(node, "areaDesc", path + "/areaDesc", true, &area->areaDesc)) return false;
    const std::size_t shapes = Count(node, "polygon") + Count(node, "circle");
    if (shapes > kCapMaxShapes)
        return Fail(path, "more than " + std::to_string(kCapMaxShapes) + " polygons and circles");
    const std::size_t geocodes = Count(node, "geocode");
    if (geocodes > kCapMaxGeocodes)
        return Fail(path, "more than " + std::to_string(kCapMaxGeocodes) + " geocodes");
    area->geocodes.reserve(geocodes);
    std::string text, why;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        const std::string_view name = Local(child);
        if (name == "polygon") {
            const std::string at = path + "/polygon";
            if (!Text(child, at, &text)) return false;
            std::vector<CapPoint> polygon;
            if (!ParsePolygon(text, &polygon, &why)) return Fail(at, why);
            area->polygons.push_back(std::move(polygon));
        } else if (name == "circle") {
            const std::string at = path + "/circle";
            if (!Text(child, at, &text)) return false;
            CapCircle circle;
            if (!ParseCircle(text, &circle, &why)) return Fail(at, why);
            area->circles.push_back(circle);
        } else if (name == "geocode") {
            const std::string at = path + "/geocode";
            CapGeocode geocode;
            if (!Single(child, "valueName", at + "/valueName", true, &geocode.valueName) ||
                !Single(child, "value", at + "/value", false, &geocode.value))
                return false;
            if (Count(child, "value") == 0) return Fail(at + "/value", "missing");
            area->geocodes.push_back(std::move(geocode));
        }
    }
    return true;
}

bool Reader::ReadInfo(pugi::xml_node node, const std::string& path, CapInfo* info) {
    if (!Single(node, "language", path + "/language", false, &info->language)) return false;
    if (info->language.empty()) info->language = "en-US";
    if (info->language.size() > 35 ||
        info->language.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                         "0123456789-") != std::string::npos)
        return Fail(path + "/language", Quote(info->language) + " is not a language tag");
    std::string text;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        const std::string_view name = Local(child);
        if (name == "category") {
            if (!Text(child, path + "/category", &text)) return false;
            if (!OneOf(text, kCategories))
                return Fail(path + "/category", Quote(text) + " is not a CAP category");
            info->categories.push_back(text);
        } else if (name == "responseType") {
            if (!Text(child, path + "/responseType", &text)) return false;
            if (!OneOf(text, kResponseTypes))
                return Fail(path + "/responseType", Quote(text) + " is not a CAP response type");
        }
    }
    if (info->categories.empty()) return Fail(path + "/category", "missing");
    std::int64_t onsetAt = 0;
    if (!Single(node, "event", path + "/event", true, &info->event) ||
        !Enumerated(node, "urgency", path + "/urgency", kCapUrgencies, "urgency", &info->urgency) ||
        !Enumerated(node, "severity", path + "/severity", kCapSeverities, "severity",
                    &info->severity) ||
        !Enumerated(node, "certainty", path + "/certainty", kCapCertainties, "certainty",
                    &info->certainty) ||
        !Time(node, "effective", path + "/effective", &info->effective, &info->effectiveAt) ||
        !Time(node, "onset", path + "/onset", &info->onset, &onsetAt) ||
        !Time(node, "expires", path + "/expires", &info->expires, &info->expiresAt) ||
        !Single(node, "senderName", path + "/senderName", false, &info->senderName) ||
        !Single(node, "headline", path + "/headline", false, &info->headline) ||
        !Single(node, "description", path + "/description", false, &info->description) ||
        !Single(node, "instruction", path + "/instruction", false, &info->instruction))
        return false;
    const std::size_t areas = Count(node, "area");
    if (areas > kCapMaxAreas)
        return Fail(path + "/area", "more than " + std::to_string(kCapMaxAreas) + " in one info");
    info->areas.reserve(areas);
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element || Local(child) != "area") continue;
        info->areas.emplace_back();
        const std::string at = path + "/area[" + std::to_string(info->areas.size()) + "]";
        if (!ReadArea(child, at, &info->areas.back())) return false;
    }
    return true;
}

std::optional<CapAlert> Reader::Read(std::string_view xml) {
    if (xml.size() > kCapMaxBytes) {
        Fail("alert", "document of " + std::to_string(xml.size()) + " bytes is over the limit of " +
                          std::to_string(kCapMaxBytes));
        return std::nullopt;
    }
    if (xml.size() >= 3 && xml.substr(0, 3) == "\xEF\xBB\xBF") xml.remove_prefix(3);
    std::size_t at = 0;
    switch (CheckText(xml, &at)) {
        case TextFault::kNotUtf8:
            Fail("alert", "not UTF-8 (at byte " + std::to_string(at) + ")");
            return std::nullopt;
        case TextFault::kControl:
            Fail("alert", "not XML (control character at byte " + std::to_string(at) + ")");
            return std::nullopt;
        case TextFault::kNone:
            break;
    }
    // pugixml expands no entity but its own five and character references,
    // and loads nothing from outside; a DTD is refused all the same, before
    // the parser sees it.
    if (ContainsNoCase(xml, "<!DOCTYPE") || ContainsNoCase(xml, "<!ENTITY")) {
        Fail("alert", "a DOCTYPE is not accepted");
        return std::nullopt;
    }
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(
        xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration | pugi::parse_doctype,
        pugi::encoding_utf8);
    if (!parsed) {
        Fail("alert", std::string("not XML (") + parsed.description() + " at byte " +
                          std::to_string(parsed.offset) + ")");
        return std::nullopt;
    }
    if (!CheckRoot(document)) return std::nullopt;
    const pugi::xml_node root = document.document_element();
    if (!CheckBounds(root)) return std::nullopt;

    CapAlert alert;
    std::string text;
    if (!Identifier(root, "identifier", &alert.identifier) ||
        !Identifier(root, "sender", &alert.sender) ||
        !Time(root, "sent", "sent", &alert.sent, &alert.sentAt) ||
        !Enumerated(root, "status", "status", kStatuses, "status", &alert.status) ||
        !Enumerated(root, "msgType", "msgType", kMsgTypes, "message type", &alert.msgType) ||
        !Enumerated(root, "scope", "scope", kScopes, "scope", &alert.scope) ||
        !References(root, &alert))
        return std::nullopt;
    const std::size_t infos = Count(root, "info");
    if (infos > kCapMaxInfos) {
        Fail("info", "more than " + std::to_string(kCapMaxInfos) + " in one alert");
        return std::nullopt;
    }
    alert.infos.reserve(infos);
    for (pugi::xml_node child = root.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element || Local(child) != "info") continue;
        alert.infos.emplace_back();
        const std::string path = "info[" + std::to_string(alert.infos.size()) + "]";
        if (!ReadInfo(child, path, &alert.infos.back())) return std::nullopt;
    }
    return alert;
}

}  // namespace

CapParse ParseCap(std::string_view xml) {
    CapParse result;
    Reader reader;
    result.alert = reader.Read(xml);
    if (!result.alert) result.error = std::move(reader.error);
    return result;
}

std::optional<std::int64_t> ParseCapTime(std::string_view text) {
    // YYYY-MM-DDThh:mm:ss+hh:mm, exactly: 25 characters.
    constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddsdd:dd";
    if (text.size() != kShape.size()) return std::nullopt;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const char c = text[i];
        const bool ok = kShape[i] == 'd'   ? c >= '0' && c <= '9'
                        : kShape[i] == 's' ? c == '+' || c == '-'
                                           : c == kShape[i];
        if (!ok) return std::nullopt;
    }
    const auto field = [&](std::size_t from, std::size_t length) {
        int value = 0;
        for (std::size_t i = from; i < from + length; ++i) value = value * 10 + (text[i] - '0');
        return value;
    };
    const int year = field(0, 4), month = field(5, 2), day = field(8, 2);
    const int hour = field(11, 2), minute = field(14, 2), second = field(17, 2);
    const int zoneHours = field(20, 2), zoneMinutes = field(23, 2);
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1 || month < 1 || month > 12 || day < 1 ||
        day > kDays[month - 1] + (month == 2 && leap) || hour > 23 || minute > 59 || second > 59 ||
        zoneMinutes > 59 || zoneHours * 60 + zoneMinutes > 14 * 60)
        return std::nullopt;
    const std::int64_t offset = (zoneHours * 60 + zoneMinutes) * 60 * (text[19] == '-' ? -1 : 1);
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           hour * 3600 + minute * 60 + second - offset;
}

const CapInfo* PreferredInfo(const CapAlert& alert) {
    for (const CapInfo& info : alert.infos)
        if (EqualNoCase(info.language, "zh-CN")) return &info;
    return alert.infos.empty() ? nullptr : &alert.infos.front();
}

}  // namespace pelmora::gateway
