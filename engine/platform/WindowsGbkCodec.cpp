// GBK through the Windows code-page API (code page 936), with the results of
// the iconv twin: the same texts refused, and the same replacement of bytes
// that are not GBK, one U+FFFD per byte.
#include "../GbkCodec.h"

#include <windows.h>

#include <climits>

namespace pelmora {

namespace {

constexpr UINT kGbk = 936;

// Windows gives GBK's user-defined areas private-use characters; they are no
// GBK text to iconv, nor here.
bool IsPrivateUse(wchar_t c) { return c >= 0xE000 && c <= 0xF8FF; }

std::optional<std::wstring> Utf8ToWide(std::string_view utf8) {
    if (utf8.empty()) return std::wstring();
    if (utf8.size() > INT_MAX) return std::nullopt;
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n);
    return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// One GBK character of `length` bytes at `bytes`, if that is what they are.
bool DecodeOne(const char* bytes, int length, wchar_t& c) {
    return ::MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, bytes, length, &c, 1) == 1 &&
           !IsPrivateUse(c);
}

// Empty at the first byte that is not GBK unless `lossy`, which puts U+FFFD
// for that byte and goes on with the next, as the iconv twin does.
std::optional<std::string> Decode(std::string_view gbk, bool lossy) {
    std::wstring wide;
    wide.reserve(gbk.size());
    for (std::size_t i = 0; i < gbk.size();) {
        const auto byte = static_cast<unsigned char>(gbk[i]);
        wchar_t c = 0;
        if (byte < 0x80) {
            wide += static_cast<wchar_t>(byte);
            i += 1;
        } else if (i + 1 < gbk.size() && DecodeOne(gbk.data() + i, 2, c)) {
            wide += c;
            i += 2;
        } else if (DecodeOne(gbk.data() + i, 1, c)) {
            wide += c;
            i += 1;
        } else if (lossy) {
            wide += static_cast<wchar_t>(0xFFFD);
            i += 1;
        } else {
            return std::nullopt;
        }
    }
    return WideToUtf8(wide);
}

}  // namespace

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
    const std::optional<std::wstring> wide = Utf8ToWide(utf8);
    if (!wide) return std::nullopt;
    if (wide->empty()) return std::string();
    for (const wchar_t c : *wide) {
        if (IsPrivateUse(c)) return std::nullopt;
    }
    const int size = static_cast<int>(wide->size());
    BOOL substituted = FALSE;
    const int n = ::WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide->data(), size, nullptr, 0,
                                        nullptr, &substituted);
    if (n <= 0 || substituted) return std::nullopt;
    std::string gbk(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide->data(), size, gbk.data(), n, nullptr,
                          nullptr);
    return gbk;
}

std::optional<std::string> GbkToUtf8(std::string_view gbk) { return Decode(gbk, false); }

std::string GbkToUtf8Lossy(std::string_view gbk) { return *Decode(gbk, true); }

}  // namespace pelmora
