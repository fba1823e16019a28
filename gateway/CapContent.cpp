#include "CapContent.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace pelmora::gateway {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

const std::string* Field(std::string_view name, const CapInfo& info, const std::string& areas) {
    if (name == "senderName") return &info.senderName;
    if (name == "headline") return &info.headline;
    if (name == "instruction") return &info.instruction;
    if (name == "event") return &info.event;
    if (name == "description") return &info.description;
    if (name == "areaDesc") return &areas;
    if (name == "effective") return &info.effective;
    if (name == "expires") return &info.expires;
    return nullptr;
}

}  // namespace

std::string FillTemplate(const std::string& pattern, const CapInfo& info) {
    std::string areas;
    for (const CapArea& area : info.areas) {
        if (area.areaDesc.empty()) continue;
        if (!areas.empty()) areas += "、";
        areas += area.areaDesc;
    }
    std::string filled;
    for (std::size_t i = 0; i < pattern.size();) {
        if (pattern[i] == '{') {
            const std::size_t close = pattern.find('}', i + 1);
            const std::string* value =
                close == std::string::npos
                    ? nullptr
                    : Field(std::string_view(pattern).substr(i + 1, close - i - 1), info, areas);
            if (value != nullptr) {
                filled += *value;
                i = close + 1;
                continue;
            }
        }
        filled += pattern[i++];
    }
    // One space for every run of white space, none at either end.
    std::string result;
    result.reserve(filled.size());
    for (const char c : Trim(filled)) {
        if (!IsSpace(c))
            result += c;
        else if (!IsSpace(result.back()))
            result += ' ';
    }
    return result;
}

AutoDispatch AutoDispatch::Parse(const std::string& text, std::string* error) {
    if (error != nullptr) error->clear();
    AutoDispatch policy;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t semicolon = rest.find(';');
        const std::string_view item = Trim(rest.substr(0, semicolon));
        rest =
            semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
        if (item.empty()) continue;
        std::array<std::string_view, 3> words;
        const auto pluses = std::count(item.begin(), item.end(), '+');
        if (pluses == 2) {
            const std::size_t first = item.find('+'), second = item.find('+', first + 1);
            words = {Trim(item.substr(0, first)), Trim(item.substr(first + 1, second - first - 1)),
                     Trim(item.substr(second + 1))};
        }
        std::string why;
        if (pluses != 2)
            why = "three words joined by + are needed: severity+urgency+certainty";
        else if (!OneOf(words[0], kCapSeverities))
            why = "\"" + std::string(words[0]) + "\" is not a CAP severity";
        else if (!OneOf(words[1], kCapUrgencies))
            why = "\"" + std::string(words[1]) + "\" is not a CAP urgency";
        else if (!OneOf(words[2], kCapCertainties))
            why = "\"" + std::string(words[2]) + "\" is not a CAP certainty";
        if (!why.empty()) {
            if (error != nullptr) *error = "\"" + std::string(item) + "\": " + why;
            return {};
        }
        policy.rules_.push_back(
            {std::string(words[0]), std::string(words[1]), std::string(words[2])});
    }
    return policy;
}

bool AutoDispatch::Allows(const CapInfo& info) const {
    return std::any_of(rules_.begin(), rules_.end(), [&](const Rule& rule) {
        return rule.severity == info.severity && rule.urgency == info.urgency &&
               rule.certainty == info.certainty;
    });
}

}  // namespace pelmora::gateway
