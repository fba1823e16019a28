// What the HTTP interface and the inbox ask of the centre: an authority's
// CAP alert or a plain warning becomes a record and goes its way (review,
// dispatch, or only kept); a record and the registry are told as JSON.
// Plain C++; no Qt. Called from the server's threads at once.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "CapContent.h"
#include "GatewayServer.h"

namespace pelmora::dispatch {
class RegistryMirror;
class WarningDesk;
}  // namespace pelmora::dispatch
namespace pelmora::store {
class Store;
}

namespace pelmora::gateway {

struct IntakeSettings {
    std::string geocodeName = "行政区划代码";
    std::string pattern = kDefaultTemplate;
    AutoDispatch autoDispatch;
    // The follow-ups' validity of a warning that gives no end, in seconds;
    // 0: none.
    std::int64_t defaultValidity = 0;
};

class AlertIntake final : public IGatewayHandler {
  public:
    using Clock = std::function<std::int64_t()>;               // seconds since 1970
    using Log = std::function<void(const std::string& line)>;  // UTF-8
    AlertIntake(dispatch::WarningDesk& desk, const dispatch::RegistryMirror& registry,
                store::Store& store, Log log, Clock clock = {});

    void SetSettings(IntakeSettings settings);

    HttpAnswer PostAlert(const std::string& xml, const std::string& source) override;
    HttpAnswer PostWarning(const std::string& json, const std::string& source) override;
    HttpAnswer GetWarning(std::int64_t id) override;
    HttpAnswer GetTerminals() override;

  private:
    HttpAnswer Refuse(int status, const std::string& error, const std::string& source,
                      const std::string& what);
    IntakeSettings Settings() const;

    dispatch::WarningDesk& desk_;
    const dispatch::RegistryMirror& registry_;
    store::Store& store_;
    Log log_;
    Clock clock_;
    mutable std::mutex lock_;
    IntakeSettings settings_;  // guarded by lock_
};

// A time as ISO 8601 in local time with its offset ("2026-12-10T08:30:00+08:00").
std::string IsoTime(std::int64_t seconds);

}  // namespace pelmora::gateway
