#include "../GbkCodec.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace pelmora {

namespace {

// Converts the whole text or nothing. `skipInvalid` replaces each byte that
// does not convert by `replacement` and goes on.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view input,
                                   const char* replacement = nullptr) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string output;
    std::vector<char> chunk(4 * input.size() + 16);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    bool ok = true;
    while (inLeft > 0) {
        char* out = chunk.data();
        std::size_t outLeft = chunk.size();
        const std::size_t r = iconv(cd, &in, &inLeft, &out, &outLeft);
        output.append(chunk.data(), static_cast<std::size_t>(out - chunk.data()));
        if (r != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        if (replacement == nullptr) {
            ok = false;
            break;
        }
        output.append(replacement);  // EILSEQ or EINVAL: skip one byte
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    if (!ok) return std::nullopt;
    return output;
}

}  // namespace

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
    return Convert("GBK", "UTF-8", utf8);
}

std::optional<std::string> GbkToUtf8(std::string_view gbk) {
    return Convert("UTF-8", "GBK", gbk);
}

std::string GbkToUtf8Lossy(std::string_view gbk) {
    return Convert("UTF-8", "GBK", gbk, "\xEF\xBF\xBD").value_or(std::string());
}

}  // namespace pelmora
