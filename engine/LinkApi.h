// The engine's only way to the terminals: the DS functions it uses, as a
// table, so tests can put a scripted link in their place.
#pragma once

#include <cstdint>
#include <functional>

namespace pelmora {

struct LinkApi {
    std::function<int(std::uint32_t deviceId, std::uint16_t length, const std::uint8_t* data)>
        sendData;
};

// The real functions of the link library.
LinkApi DovrikLink();

}  // namespace pelmora
