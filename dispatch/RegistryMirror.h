// The registry as other threads see it: a copy of the keeper's terminals,
// published whole when what the operator says of them changes, and each
// terminal's online and power state, kept up to date one change at a time.
// Published from the window thread; read from any.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "Store.h"

namespace pelmora::dispatch {

class RegistryMirror {
  public:
    using Map = std::unordered_map<std::uint32_t, store::Terminal>;

    void Publish(Map registry) {
        auto copy = std::make_shared<const Map>(std::move(registry));
        std::lock_guard guard(lock_);
        registry_ = std::move(copy);
    }
    void SetOnline(std::uint32_t deviceId, bool online) {
        std::lock_guard guard(lock_);
        if (online)
            online_.insert(deviceId);
        else
            online_.erase(deviceId);
    }
    void SetPower(std::uint32_t deviceId, int power) {
        std::lock_guard guard(lock_);
        power_[deviceId] = power;
    }
    void AllOffline() {
        std::lock_guard guard(lock_);
        online_.clear();
    }

    // Never null.
    std::shared_ptr<const Map> Registry() const {
        std::lock_guard guard(lock_);
        return registry_;
    }
    bool Online(std::uint32_t deviceId) const {
        std::lock_guard guard(lock_);
        return online_.count(deviceId) != 0;
    }
    // The latest power state told, else the registry's.
    int Power(std::uint32_t deviceId) const {
        std::lock_guard guard(lock_);
        if (const auto it = power_.find(deviceId); it != power_.end()) return it->second;
        const auto it = registry_->find(deviceId);
        return it == registry_->end() ? store::kPowerUnknown : it->second.power;
    }

  private:
    mutable std::mutex lock_;
    std::shared_ptr<const Map> registry_ = std::make_shared<const Map>();
    std::unordered_set<std::uint32_t> online_;
    std::unordered_map<std::uint32_t, int> power_;
};

}  // namespace pelmora::dispatch
