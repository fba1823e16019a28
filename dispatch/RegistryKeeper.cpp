#include "RegistryKeeper.h"

#include <algorithm>
#include <cstdio>

namespace pelmora::dispatch {

namespace {

std::string AddressText(const std::uint8_t (&ip)[4]) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
    return text;
}

std::string SimText(const char (&sim)[12]) {
    std::size_t length = 0;
    while (length < sizeof sim && sim[length] != '\0') ++length;
    return std::string(sim, length);
}

}  // namespace

RegistryKeeper::RegistryKeeper(store::Store& store) : store_(store) {
    for (store::Terminal& t : store.Terminals()) terminals_.emplace(t.deviceId, std::move(t));
}

std::vector<std::uint32_t> RegistryKeeper::Seen(const std::vector<ModemInfo>& online,
                                                std::int64_t now) {
    std::vector<std::uint32_t> registered;
    std::vector<store::Terminal> changed;
    std::vector<store::Event> events;
    std::vector<std::pair<std::uint32_t, TerminalChange>> told;
    std::unordered_map<std::uint32_t, std::uint32_t> current;
    current.reserve(online.size());
    for (const ModemInfo& info : online) {
        current.emplace(info.deviceId, info.loginTime);
        const auto was = online_.find(info.deviceId);
        if (was != online_.end() && was->second == info.loginTime) continue;  // nothing new
        store::Terminal& t = Entry(info.deviceId);
        t.sim = SimText(info.simNumber);
        t.address = AddressText(info.ipAddress);
        if (t.firstSeen == 0) t.firstSeen = now;
        t.lastSeen = now;
        changed.push_back(t);
        registered.push_back(info.deviceId);
        events.push_back({now, info.deviceId, "online", t.address});
        told.emplace_back(info.deviceId, TerminalChange::Online);
    }
    for (const auto& [id, login] : online_) {
        if (current.count(id) != 0) continue;
        store::Terminal& t = terminals_[id];
        t.lastSeen = now;  // gone: the last time it was seen online
        changed.push_back(t);
        events.push_back({now, id, "offline", {}});
        told.emplace_back(id, TerminalChange::Offline);
    }
    online_ = std::move(current);
    if (mirror_ != nullptr)
        for (const auto& [id, change] : told)
            mirror_->SetOnline(id, change == TerminalChange::Online);
    if (!changed.empty()) store_.SaveTerminals(std::move(changed));
    store_.AddEvents(std::move(events));
    if (listener_)
        for (const auto& [id, change] : told) listener_(id, change, now);
    return registered;
}

void RegistryKeeper::Power(std::uint32_t deviceId, bool battery, std::int64_t now) {
    store::Terminal& t = Entry(deviceId);
    const int power = battery ? store::kPowerBattery : store::kPowerMains;
    if (t.power == power) return;
    t.power = power;
    t.powerChanged = now;
    store_.SaveTerminals({t});
    store_.AddEvents({{now, deviceId, "power", battery ? "备电" : "主电"}});
    if (mirror_ != nullptr) mirror_->SetPower(deviceId, power);
    if (listener_) listener_(deviceId, TerminalChange::Power, now);
}

void RegistryKeeper::Firmware(std::uint32_t deviceId, const std::string& versions) {
    store::Terminal& t = Entry(deviceId);
    if (t.firmware == versions) return;
    t.firmware = versions;
    store_.SaveTerminals({t});
}

void RegistryKeeper::SetMirror(RegistryMirror* mirror) {
    mirror_ = mirror;
    if (mirror_ == nullptr) return;
    mirror_->AllOffline();
    for (const auto& [id, login] : online_) mirror_->SetOnline(id, true);
    published_.reset();  // never published: the first PublishMirror copies
}

void RegistryKeeper::PublishMirror() {
    if (mirror_ == nullptr || published_ == revision_) return;
    mirror_->Publish(terminals_);
    published_ = revision_;
}

store::Terminal& RegistryKeeper::Entry(std::uint32_t deviceId) {
    const auto [it, added] = terminals_.try_emplace(deviceId);
    if (added) {
        it->second.deviceId = deviceId;
        ++revision_;
    }
    return it->second;
}

void RegistryKeeper::Replace(std::vector<store::Terminal> terminals) {
    for (const store::Terminal& t : terminals) terminals_[t.deviceId] = t;
    ++revision_;
    if (!terminals.empty()) store_.SaveTerminals(std::move(terminals));
    if (listener_) listener_(0, TerminalChange::Registry, 0);
}

std::vector<store::Terminal> RegistryKeeper::All() const {
    std::vector<store::Terminal> all;
    all.reserve(terminals_.size());
    for (const auto& [id, t] : terminals_) all.push_back(t);
    std::sort(all.begin(), all.end(), [](const store::Terminal& a, const store::Terminal& b) {
        return a.deviceId < b.deviceId;
    });
    return all;
}

void RegistryKeeper::AllGone(std::int64_t now) {
    Seen({}, now);
}

std::string RegistryKeeper::SetOperatorFields(std::uint32_t deviceId, OperatorFields fields) {
    const auto it = terminals_.find(deviceId);
    if (it == terminals_.end()) return "终端未登记";
    // A NaN fails both comparisons, so it is refused too.
    if (fields.latitude && !(*fields.latitude >= -90 && *fields.latitude <= 90))
        return "纬度必须在 -90 到 90 之间";
    if (fields.longitude && !(*fields.longitude >= -180 && *fields.longitude <= 180))
        return "经度必须在 -180 到 180 之间";
    store::Terminal& t = it->second;
    t.name = std::move(fields.name);
    t.regionCode = std::move(fields.regionCode);
    t.regionName = std::move(fields.regionName);
    t.latitude = fields.latitude;
    t.longitude = fields.longitude;
    t.tags = std::move(fields.tags);
    t.note = std::move(fields.note);
    ++revision_;
    store_.SaveTerminals({t});
    if (listener_) listener_(deviceId, TerminalChange::Registry, 0);
    return {};
}

OfflineCounts RegistryKeeper::CountOffline(std::int64_t now, std::int64_t longSeconds) const {
    OfflineCounts counts;
    for (const auto& [id, t] : terminals_) {
        if (online_.count(id) != 0) continue;
        if (t.lastSeen == 0) {
            ++counts.neverOnline;
            continue;
        }
        ++counts.offline;
        if (now - t.lastSeen > longSeconds) ++counts.longOffline;
    }
    return counts;
}

std::vector<store::Event> RegistryKeeper::History(std::uint32_t deviceId, std::size_t count) const {
    return store_.EventsOf(deviceId, count);
}

}  // namespace pelmora::dispatch
