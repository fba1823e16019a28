// Keeps the registry up to date with what the link sees: a terminal that
// registers is added (first seen) or refreshed (SIM, address, last seen), a
// terminal that leaves gets its last-seen time, and a power report that
// changes the state is kept with its time. Only changes are written, each
// also as an event of the terminal's history.
// Window thread.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "Dovrik.h"
#include "Store.h"

namespace pelmora::dispatch {

class RegistryKeeper {
  public:
    explicit RegistryKeeper(store::Store& store);

    // The terminals registered now; `now` in seconds since 1970. Returns
    // those that registered since the last call (a new connection).
    std::vector<std::uint32_t> Seen(const std::vector<ModemInfo>& online, std::int64_t now);
    void Power(std::uint32_t deviceId, bool battery, std::int64_t now);
    // The versions a query found (UTF-8); written when they changed.
    void Firmware(std::uint32_t deviceId, const std::string& versions);
    // The service stopped: every terminal is offline from now.
    void AllGone(std::int64_t now);

    // Puts the terminals in whole (an import), and writes them.
    void Replace(std::vector<store::Terminal> terminals);
    std::vector<store::Terminal> All() const;
    // The registry as the keeper knows it.
    const std::unordered_map<std::uint32_t, store::Terminal>& Terminals() const {
        return terminals_;
    }
    // Whether the terminal is registered now.
    bool Online(std::uint32_t deviceId) const { return online_.count(deviceId) != 0; }

  private:
    store::Store& store_;
    std::unordered_map<std::uint32_t, store::Terminal> terminals_;
    // Registered now, with the login time of the connection.
    std::unordered_map<std::uint32_t, std::uint32_t> online_;
};

}  // namespace pelmora::dispatch
