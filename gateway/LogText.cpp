#include "LogText.h"

#include <algorithm>

namespace pelmora::gateway {

namespace {

// The length of the UTF-8 sequence at `at`, 0 when it is not one.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string LogText(std::string_view text, std::size_t maxBytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(std::min(text.size(), maxBytes) + 8);
    std::size_t at = 0;
    while (at < text.size()) {
        if (out.size() >= maxBytes) {
            out += "…";
            break;
        }
        const auto c = static_cast<unsigned char>(text[at]);
        const std::size_t length = SequenceLength(text, at);
        // C1 controls (U+0080 to U+009F) are escaped as their two bytes.
        const bool control =
            c < 0x20 || c == 0x7F ||
            (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0);
        if (length == 0 || control) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
            ++at;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

}  // namespace pelmora::gateway
