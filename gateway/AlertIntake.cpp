#include "AlertIntake.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <ctime>
#include <map>

#include "AreaMatch.h"
#include "Cap.h"
#include "CommandEngine.h"
#include "CommandTexts.h"
#include "GbkCodec.h"
#include "RegistryMirror.h"
#include "Store.h"
#include "Targets.h"
#include "WarningDesk.h"

namespace pelmora::gateway {

using nlohmann::json;

namespace {

// Bounds on a plain warning's request.
constexpr std::size_t kMaxContent = 4096;  // bytes of UTF-8
constexpr std::size_t kMaxTargets = 100000;
constexpr std::int64_t kMaxValidity = 7 * 24 * 3600;

HttpAnswer Answer(int status, const json& body) {
    return {status, body.dump(-1, ' ', false, json::error_handler_t::replace)};
}

std::string KeyText(const std::string& sender, const std::string& identifier,
                    const std::string& sent) {
    return sender + "," + identifier + "," + sent;
}

json TimeOrNull(std::int64_t seconds) {
    return seconds == 0 ? json(nullptr) : json(IsoTime(seconds));
}

std::string PowerWord(int power) {
    if (power == store::kPowerMains) return "主电";
    if (power == store::kPowerBattery) return "备电";
    return "";
}

}  // namespace

std::string IsoTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    char text[40];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) == 0) return {};
    std::string iso = text;
    if (iso.size() >= 5) iso.insert(iso.size() - 2, ":");  // +0800 → +08:00
    return iso;
}

AlertIntake::AlertIntake(dispatch::WarningDesk& desk, const dispatch::RegistryMirror& registry,
                         store::Store& store, Log log, Clock clock)
    : desk_(desk), registry_(registry), store_(store), log_(std::move(log)), clock_(clock) {
    if (!clock_) clock_ = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
}

void AlertIntake::SetSettings(IntakeSettings settings) {
    std::lock_guard guard(lock_);
    settings_ = std::move(settings);
}

IntakeSettings AlertIntake::Settings() const {
    std::lock_guard guard(lock_);
    return settings_;
}

HttpAnswer AlertIntake::Refuse(int status, const std::string& error, const std::string& source,
                               const std::string& what) {
    if (log_) log_("网关拒绝" + what + "(来自 " + source + "): " + error);
    return Answer(status, {{"error", error}});
}

HttpAnswer AlertIntake::PostAlert(const std::string& xml, const std::string& source) {
    CapParse parsed = ParseCap(xml);
    if (!parsed.alert) return Refuse(400, parsed.error, source, "预警");
    const CapAlert& alert = *parsed.alert;
    if (alert.status == "Draft")
        return Refuse(400, "status: Draft alerts are not accepted", source, "预警");

    const std::string key = KeyText(alert.sender, alert.identifier, alert.sent);
    const IntakeSettings settings = Settings();
    const std::int64_t now = clock_();
    const CapInfo* info = PreferredInfo(alert);

    dispatch::OutsideWarning warning;
    warning.targets = MatchArea(alert, *registry_.Registry(), settings.geocodeName);
    warning.drill = alert.status == "Exercise" || alert.status == "Test";
    if (info != nullptr) warning.content = FillTemplate(settings.pattern, *info);

    std::vector<std::string> notes;
    const bool ends = alert.msgType == "Update" || alert.msgType == "Cancel";
    for (const CapReference& r : alert.references) {
        const std::int64_t earlier = desk_.FindAlert(r.sender, r.identifier, r.sent);
        if (earlier != 0) {
            if (ends) warning.ends.push_back(earlier);
        } else {
            notes.push_back("引用的预警未收到: " + KeyText(r.sender, r.identifier, r.sent));
        }
    }

    // What becomes of it.
    std::string why;
    if (alert.msgType == "Cancel") {
        why = "取消之前的预警, 不播放";
    } else if (alert.msgType != "Alert" && alert.msgType != "Update") {
        why = alert.msgType + " 消息, 不播放";
    } else if (alert.status == "System") {
        why = "System 消息, 只记录";
    } else if (info == nullptr) {
        why = "没有 info, 不播放";
    } else if (info->expiresAt != 0 && info->expiresAt <= now) {
        why = "已过期 (" + info->expires + "), 不播放";
    }
    if (!why.empty()) {
        warning.route = dispatch::Route::Record;
        notes.push_back(why);
    } else if (!settings.autoDispatch.Allows(*info)) {
        warning.route = dispatch::Route::Review;
    } else if (!Utf8ToGbk(warning.content)) {
        warning.route = dispatch::Route::Review;
        notes.push_back("内容含有GBK无法表示的字符, 等待审核");
    } else {
        warning.route = dispatch::Route::Dispatch;
    }
    if (info != nullptr && info->expiresAt != 0)
        warning.expires = info->expiresAt;
    else if (settings.defaultValidity > 0)
        warning.expires = now + settings.defaultValidity;

    store::AlertRecord record;
    record.sender = alert.sender;
    record.identifier = alert.identifier;
    record.sent = alert.sent;
    record.xml = xml;
    record.source = source;
    for (const std::string& n : notes) record.note += (record.note.empty() ? "" : "; ") + n;
    warning.alert = std::move(record);

    const dispatch::DeskAnswer answer = desk_.Take(std::move(warning));
    if (log_)
        log_((answer.repeated ? "网关收到重复的预警 " : "网关收到预警 ") + alert.identifier + "(" +
             alert.sender + ", 来自 " + source + "): 记录" + std::to_string(answer.warning) + ", " +
             answer.state + ", 匹配" + std::to_string(answer.terminals) + "台");
    return Answer(202, {{"identifier", alert.identifier},
                        {"warning", answer.warning},
                        {"state", answer.state},
                        {"terminals", answer.terminals}});
}

HttpAnswer AlertIntake::PostWarning(const std::string& body, const std::string& source) {
    const json request = json::parse(body, nullptr, false);
    if (request.is_discarded() || !request.is_object())
        return Refuse(400, "body: not a JSON object", source, "预警");
    const auto text = request.find("content");
    if (text == request.end() || !text->is_string() || text->get<std::string>().empty())
        return Refuse(400, "content: missing or not a string", source, "预警");
    const std::string content = text->get<std::string>();
    if (content.size() > kMaxContent) return Refuse(400, "content: too long", source, "预警");

    dispatch::TargetChoice choice;
    const auto targets = request.find("targets");
    if (targets == request.end() || !targets->is_object())
        return Refuse(400, "targets: missing or not an object", source, "预警");
    for (const char* part : {"regions", "tags", "devices"}) {
        const auto list = targets->find(part);
        if (list == targets->end()) continue;
        if (!list->is_array() || list->size() > kMaxTargets)
            return Refuse(400, std::string("targets.") + part + ": not a list of strings", source,
                          "预警");
        for (const json& item : *list) {
            if (!item.is_string())
                return Refuse(400, std::string("targets.") + part + ": not a list of strings",
                              source, "预警");
            const std::string value = item.get<std::string>();
            if (part[0] == 'r') {
                choice.regions.push_back(value);
            } else if (part[0] == 't') {
                choice.tags.push_back(value);
            } else {
                std::uint32_t id = 0;
                if (!ParseDeviceId(value, id))
                    return Refuse(400, "targets.devices: \"" + value + "\" is not a device ID",
                                  source, "预警");
                choice.devices.push_back(id);
            }
        }
    }
    if (choice.Empty()) return Refuse(400, "targets: no region, tag or device", source, "预警");

    std::int64_t validity = -1;
    if (const auto v = request.find("validity_s"); v != request.end() && !v->is_null()) {
        if (!v->is_number_integer() || v->get<std::int64_t>() < 0 ||
            v->get<std::int64_t>() > kMaxValidity)
            return Refuse(400, "validity_s: not a whole number of seconds from 0 to 604800", source,
                          "预警");
        validity = v->get<std::int64_t>();
    }
    bool drill = false;
    if (const auto d = request.find("drill"); d != request.end() && !d->is_null()) {
        if (!d->is_boolean()) return Refuse(400, "drill: not true or false", source, "预警");
        drill = d->get<bool>();
    }

    const IntakeSettings settings = Settings();
    const std::int64_t now = clock_();
    dispatch::OutsideWarning warning;
    warning.content = content;
    warning.drill = drill;
    warning.targets = dispatch::ResolveTargets(*registry_.Registry(), choice);
    if (validity < 0) validity = settings.defaultValidity;
    warning.expires = validity > 0 ? now + validity : 0;
    // A plain warning says nothing of its severity: it waits for review.
    warning.route = dispatch::Route::Review;

    const dispatch::DeskAnswer answer = desk_.Take(std::move(warning));
    if (log_)
        log_("网关收到预警(来自 " + source + "): 记录" + std::to_string(answer.warning) + ", " +
             answer.state + ", 匹配" + std::to_string(answer.terminals) + "台");
    return Answer(202, {{"identifier", nullptr},
                        {"warning", answer.warning},
                        {"state", answer.state},
                        {"terminals", answer.terminals}});
}

HttpAnswer AlertIntake::GetWarning(std::int64_t id) {
    const std::optional<store::Warning> record = store_.FindWarning(id);
    if (!record) return Answer(404, {{"error", "no warning " + std::to_string(id)}});
    const std::optional<store::AlertRecord> alert = store_.AlertOf(id);

    // Every attempt's outcome, and the terminals meant for that have none.
    json terminals = json::array();
    std::map<std::uint32_t, std::vector<const store::Outcome*>> byTerminal;
    const std::vector<store::Outcome> outcomes = store_.OutcomesOf(id);
    for (const store::Outcome& o : outcomes) byTerminal[o.deviceId].push_back(&o);
    for (const std::uint32_t target : store_.TargetsOf(id)) byTerminal.try_emplace(target);
    for (const auto& [deviceId, attempts] : byTerminal) {
        if (attempts.empty()) {
            terminals.push_back({{"device_id", DeviceIdText(deviceId)},
                                 {"outcome", "等待"},
                                 {"time", nullptr},
                                 {"attempt", 1}});
            continue;
        }
        for (const store::Outcome* o : attempts)
            terminals.push_back({{"device_id", DeviceIdText(deviceId)},
                                 {"outcome", o->word},
                                 {"time", TimeOrNull(o->time)},
                                 {"attempt", o->attempt}});
    }
    json body = {{"id", record->id},
                 {"state", desk_.StateOf(*record)},
                 {"drill", record->drill},
                 {"content", record->content},
                 {"identifier", alert ? json(alert->identifier) : json(nullptr)},
                 {"sender", alert ? json(alert->sender) : json(nullptr)},
                 {"xml", alert ? json(alert->xml) : json(nullptr)},
                 {"note", alert ? json(alert->note) : json(nullptr)},
                 {"queued", TimeOrNull(record->queued)},
                 {"expires", TimeOrNull(record->expires)},
                 {"terminals", std::move(terminals)}};
    return Answer(200, body);
}

HttpAnswer AlertIntake::GetTerminals() {
    const auto registry = registry_.Registry();
    std::vector<const store::Terminal*> sorted;
    sorted.reserve(registry->size());
    for (const auto& [id, t] : *registry) sorted.push_back(&t);
    std::sort(sorted.begin(), sorted.end(),
              [](const auto* a, const auto* b) { return a->deviceId < b->deviceId; });
    json list = json::array();
    for (const store::Terminal* t : sorted) {
        json tags = json::array();
        for (std::string& tag : store::SplitList(t->tags)) tags.push_back(std::move(tag));
        list.push_back({{"device_id", DeviceIdText(t->deviceId)},
                        {"name", t->name},
                        {"region_code", t->regionCode},
                        {"region_name", t->regionName},
                        {"latitude", t->latitude ? json(*t->latitude) : json(nullptr)},
                        {"longitude", t->longitude ? json(*t->longitude) : json(nullptr)},
                        {"tags", std::move(tags)},
                        {"online", registry_.Online(t->deviceId)},
                        {"power", PowerWord(registry_.Power(t->deviceId))}});
    }
    return Answer(200, list);
}

}  // namespace pelmora::gateway
