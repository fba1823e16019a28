#include "SettingsParser.h"

namespace pelmora {

bool ParseSettingsReport(std::string_view, AlarmSettings&) { return false; }
bool ParseNumberList(std::string_view, int, AlarmSettings&) { return false; }
bool ParseModemSection(std::string_view, AlarmSettings&) { return false; }

}  // namespace pelmora
