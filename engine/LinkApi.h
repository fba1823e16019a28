// The engine's only way to the terminals: the DS functions it uses, as a
// table, so tests can put a scripted link in their place.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>

namespace pelmora {

// Every registered terminal and the identity of its connection: its login
// time, which changes when it registers again.
using ConnectionMap = std::unordered_map<std::uint32_t, std::uint32_t>;

struct LinkApi {
    std::function<int(std::uint32_t deviceId, std::uint16_t length, const std::uint8_t* data)>
        sendData;
    // Fills the map with the registered terminals; empty when the link
    // cannot tell, and then no conversation checks its connection.
    std::function<void(ConnectionMap& out)> connections = nullptr;
};

// The real functions of the link library.
LinkApi DovrikLink();

}  // namespace pelmora
