// The one place where the system's 8-bit GBK text meets UTF-8: the window
// shows and takes UTF-8, the terminals and the engine speak GBK.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pelmora {

// Empty when the text holds a character GBK cannot represent (or is not
// valid UTF-8): such text is refused, never sent with substitutes.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);

// Empty when the bytes are not valid GBK.
std::optional<std::string> GbkToUtf8(std::string_view gbk);

// For showing whatever a terminal sent: invalid bytes become U+FFFD.
std::string GbkToUtf8Lossy(std::string_view gbk);

}  // namespace pelmora
