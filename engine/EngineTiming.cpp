#include "EngineTiming.h"

#include <ctime>

#include "platform/LocalTime.h"

namespace pelmora {

FrameTimestamp LocalTimestampNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ToLocalTime(now, local);
    return {static_cast<std::uint8_t>((local.tm_year + 1900) & 0xFF),
            static_cast<std::uint8_t>(local.tm_mon + 1),
            static_cast<std::uint8_t>(local.tm_mday),
            static_cast<std::uint8_t>(local.tm_hour),
            static_cast<std::uint8_t>(local.tm_min),
            static_cast<std::uint8_t>(local.tm_sec)};
}

EngineTiming WithDefaults(EngineTiming timing) {
    if (!timing.localTime) timing.localTime = LocalTimestampNow;
    return timing;
}

}  // namespace pelmora
