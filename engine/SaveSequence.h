// Writes the settings grid to one terminal: five steps in a fixed order
// (preset texts, alarm priorities, play counts, GPRS centre and modem, other
// settings), one command per value that differs from the settings record,
// each sent only after the previous one was acknowledged. The first failure
// ends the whole sequence; what was written before it stays written and
// recorded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pelmora {

class Conversation;

// Grid positions of the value cells: the left half's values are column 1,
// the right half's column 3.
namespace grid {
inline constexpr int kLeftValue = 1;
inline constexpr int kRightValue = 3;
}  // namespace grid

// The conversation of a save to `deviceId`; it logs "参数保存完毕..." when
// every step went through.
std::unique_ptr<Conversation> MakeSaveConversation(std::uint32_t deviceId);

// The FM frequency cell (MHz) as the terminal's value in units of 0.01 MHz,
// computed in single precision: "88.7" gives "8870", "" gives "0". Empty when
// the text holds anything but digits and "." or the value does not fit.
bool FmFrequencyValue(const std::string& cell, std::string& value);

// The cell read as a decimal integer: leading blanks, one sign, then digits
// up to the first other character; no digits give 0. Saturates instead of
// overflowing.
long long CellInteger(const std::string& cell);

}  // namespace pelmora
