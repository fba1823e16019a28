// What an alert becomes on the terminals: the settings' template filled from
// the preferred info, and whether its severity, urgency and certainty let it
// go out without the operator's review. Plain C++; no Qt.
#pragma once

#include <string>
#include <vector>

#include "Cap.h"

namespace pelmora::gateway {

inline constexpr char kDefaultTemplate[] = "【{senderName}】{headline}。{instruction}";

// The template with {senderName}, {headline}, {instruction}, {event},
// {description}, {areaDesc} (the areas' descriptions joined by "、"),
// {effective} and {expires} replaced by the info's text; any other brace
// stays as it is. Runs of white space become one space, and the result is
// trimmed.
std::string FillTemplate(const std::string& pattern, const CapInfo& info);

// The combinations of severity, urgency and certainty that go out at once,
// written "Extreme+Immediate+Observed;Severe+Immediate+Observed". Empty: none.
class AutoDispatch {
  public:
    // Empty `error` when read; otherwise it names the bad combination and the
    // policy stays empty (nothing goes out without review).
    static AutoDispatch Parse(const std::string& text, std::string* error = nullptr);
    bool Allows(const CapInfo& info) const;
    bool Empty() const { return rules_.empty(); }

  private:
    struct Rule {
        std::string severity, urgency, certainty;
    };
    std::vector<Rule> rules_;
};

}  // namespace pelmora::gateway
