// The C library's thread-safe local-time conversion, which POSIX and Windows
// name differently.
#pragma once

#include <ctime>

namespace pelmora {

// False when `t` has no local time (out of the platform's range).
inline bool ToLocalTime(std::time_t t, std::tm& local) {
#if defined(_WIN32)
    return localtime_s(&local, &t) == 0;
#else
    return localtime_r(&t, &local) != nullptr;
#endif
}

}  // namespace pelmora
