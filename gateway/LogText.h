// Text from outside (request paths, file names, error texts) made fit for
// one line of the log: valid UTF-8 is kept, control characters and bytes
// that are not UTF-8 are written as \xNN, and a long text is cut. Plain C++.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelmora::gateway {

std::string LogText(std::string_view text, std::size_t maxBytes = 200);

}  // namespace pelmora::gateway
