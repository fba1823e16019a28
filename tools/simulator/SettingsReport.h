// The settings report a terminal sends in answer to "AT+SHOW\r", built from a
// settings record, and the record of a typical terminal. Tests use the report
// to feed the centre's parser without a terminal.
#pragma once

#include <string>
#include <string_view>

#include "SettingsRecord.h"

namespace dovrik::sim {

// A terminal as it leaves the workshop: a few numbers on each list, Chinese
// preset texts (GBK), the usual modem values. No field is empty or zero, so a
// reader that misses a line of its report cannot go unnoticed.
pelmora::AlarmSettings DefaultTerminalSettings();

// The same terminal with the longest report there is: every number list full
// (255 numbers of 11 digits) and three preset texts of 400 GBK bytes, among
// them the link's escape bytes 0xFD and 0xFE. Its report comes to about 13 KB,
// more than one message can carry.
pelmora::AlarmSettings FullTerminalSettings();

// The whole report, GBK, ending in "OK\r\n". The modem section comes first,
// from "Access Point Name:" on, then the alarm section. Labels are searched
// from the start of the text and the first occurrence counts, so a label's
// line always comes before the line of any longer label that contains it.
// Values carry the trailing characters the reader drops, and coded modem
// values (work mode, activate method, serial mode) are spelled out as the
// terminal prints them. Number lists are comma lists of the non-empty entries.
std::string SettingsReport(const pelmora::AlarmSettings& settings);

// How the terminal spells a coded value; a code it does not know is printed as
// it stands.
std::string WorkModeText(std::string_view code);
std::string ActivateMethodText(std::string_view code);
std::string SerialModeText(std::string_view code);

}  // namespace dovrik::sim
