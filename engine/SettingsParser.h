// Reads a terminal's settings report (the answer to "AT+SHOW\r") into the
// settings record.
#pragma once

#include <string_view>

#include "SettingsRecord.h"

namespace pelmora {

// `text` runs from the first "Access Point Name:" to the end of what has
// arrived. Steps run in a fixed order and stop at the first failure; fields
// of earlier steps keep their new values. True when every step ran through.
bool ParseSettingsReport(std::string_view text, AlarmSettings& record);

// Fills list 1 (admin), 2 (authorize) or 3 (backup) from a comma list.
bool ParseNumberList(std::string_view value, int listKind, AlarmSettings& record);

// Fills the modem part and `totalServers`.
bool ParseModemSection(std::string_view text, AlarmSettings& record);

}  // namespace pelmora
