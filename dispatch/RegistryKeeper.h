// Keeps the registry up to date with what the link sees: a terminal that
// registers is added (first seen) or refreshed (SIM, address, last seen), a
// terminal that leaves gets its last-seen time, and a power report that
// changes the state is kept with its time. Only changes are written, each
// also as an event of the terminal's history.
// Window thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Dovrik.h"
#include "RegistryMirror.h"
#include "Store.h"

namespace pelmora::dispatch {

// What the operator says of a terminal (UTF-8), as the terminal's page edits it.
struct OperatorFields {
    std::string name;
    std::string regionCode;
    std::string regionName;
    std::optional<double> latitude;
    std::optional<double> longitude;
    std::string tags;  // separated by ';'
    std::string note;
};

// The registry's terminals that are not registered now.
struct OfflineCounts {
    int offline = 0;      // seen online once, not now
    int longOffline = 0;  // of those, last seen longer ago than the long-offline time
    int neverOnline = 0;  // never seen online (imported, say); not in the two above
};

// What a listener of the keeper is told of.
enum class TerminalChange {
    Online,    // registered (again)
    Offline,   // was registered, is not now
    Power,     // its power state changed
    Registry,  // the operator's fields changed, or an import (device ID 0)
};

class RegistryKeeper {
  public:
    explicit RegistryKeeper(store::Store& store);

    // Told of each change once the keeper holds it (a refresh's changes
    // after the whole refresh), on the thread that made it; `now` is 0 for
    // a Registry change.
    using ChangeListener =
        std::function<void(std::uint32_t deviceId, TerminalChange change, std::int64_t now)>;
    void SetChangeListener(ChangeListener listener) { listener_ = std::move(listener); }
    // The copy other threads read (may be null): told of every online and
    // power change at once; the terminals themselves are copied by
    // PublishMirror (the first call, then when they changed since the last).
    void SetMirror(RegistryMirror* mirror);
    void PublishMirror();

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
    // Changes whenever a terminal is added or what the operator says of one
    // changes; not when only the link's fields change.
    std::uint64_t Revision() const { return revision_; }

    // Puts the operator's fields of one known terminal and writes it. Empty
    // when done; otherwise why not (an unknown terminal, a latitude outside
    // -90 to 90, a longitude outside -180 to 180), and nothing changes.
    std::string SetOperatorFields(std::uint32_t deviceId, OperatorFields fields);
    OfflineCounts CountOffline(std::int64_t now, std::int64_t longSeconds) const;
    // The terminal's latest events, newest first.
    std::vector<store::Event> History(std::uint32_t deviceId, std::size_t count) const;

  private:
    // The terminal, added (and the revision moved on) when it is new.
    store::Terminal& Entry(std::uint32_t deviceId);

    store::Store& store_;
    std::unordered_map<std::uint32_t, store::Terminal> terminals_;
    // Registered now, with the login time of the connection.
    std::unordered_map<std::uint32_t, std::uint32_t> online_;
    std::uint64_t revision_ = 0;
    ChangeListener listener_;
    RegistryMirror* mirror_ = nullptr;
    std::optional<std::uint64_t> published_;  // the revision the mirror holds
};

}  // namespace pelmora::dispatch
