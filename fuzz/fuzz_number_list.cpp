// The add command of a number page is built from what the operator typed;
// the check decides whether it goes to the terminal, so it must hold for any
// text and agree with the rules it stands for.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "NumberListPage.h"

namespace {

// None repeated, the last one not empty, none of 100 characters or more,
// after the kind's prefix and without one final "\r".
bool Expected(std::string_view command, int kind) {
    const pelmora::NumberPageConfig* config = pelmora::NumberPageConfigFor(kind);
    if (config == nullptr) return false;
    const std::string_view prefix = config->addPrefix;
    const std::size_t at = command.find(prefix);
    if (at == std::string_view::npos) return false;
    std::string_view numbers = command.substr(at + prefix.size());
    if (!numbers.empty() && numbers.back() == '\r') numbers.remove_suffix(1);
    std::vector<std::string_view> pieces;
    for (;;) {
        const std::size_t comma = numbers.find(',');
        pieces.push_back(numbers.substr(0, comma));
        if (comma == std::string_view::npos) break;
        numbers.remove_prefix(comma + 1);
    }
    if (pieces.back().empty()) return false;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (pieces[i].size() >= 100) return false;
        if (std::count(pieces.begin(), pieces.end(), pieces[i]) > 1) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Operators do not type megabytes; long inputs only slow the quadratic
    // repeat check down.
    if (size > 4096) return 0;
    const std::string_view command(reinterpret_cast<const char*>(data), size);
    for (int kind = 0; kind <= 4; ++kind) {
        FUZZ_CHECK(pelmora::CNumberListPage::CheckNumberList(command, kind) == Expected(command, kind));
    }
    return 0;
}
