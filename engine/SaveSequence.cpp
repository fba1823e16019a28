#include "SaveSequence.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

#include "CommandEngine.h"
#include "CommandTexts.h"

namespace pelmora {

namespace {

constexpr long long kPlayCountMax = 65535;
constexpr long long kHeartbeatMin = 31;
constexpr long long kHeartbeatMax = 65535;
constexpr std::size_t kHeartbeatTextMax = 5;
constexpr std::size_t kServerAddressMax = 100;

// One step's work: send a line, wait for its answer, log in the step's order.
class Step {
  public:
    // commandFirst: the GPRS step logs the command line before the outcome.
    Step(CommandEngine& engine, std::uint32_t deviceId, bool commandFirst)
        : engine_(engine), deviceId_(deviceId), commandFirst_(commandFirst) {}

    std::string Cell(int row, int column) {
        if (engine_.Grid() == nullptr) return {};
        auto text = engine_.Grid()->CellText(row, column);
        if (!text) {
            if (!unsendable_) unsendable_ = std::make_pair(row, column);
            return {};
        }
        return *text;
    }

    // A cell whose text GBK cannot represent stops the step before anything
    // is sent; the message names its row.
    bool RefuseUnsendable() {
        if (!unsendable_) return false;
        Reject(WithText(text::kUnsendableCell,
                        engine_.Grid()->CellLabel(unsendable_->first, unsendable_->second)));
        return true;
    }

    // Sends `line` and logs its outcome; true when the terminal said OK.
    bool Send(const SettingCommand& command, const std::string& line) {
        const bool ok = engine_.SendAndAwaitOk(deviceId_, line);
        const char* outcome = ok ? command.success : command.failure;
        if (commandFirst_) {
            engine_.PostWorkerLog(line);
            engine_.PostWorkerLog(outcome);
        } else {
            engine_.PostWorkerLog(outcome);
            engine_.PostWorkerLog(line);
        }
        return ok;
    }

    // Send-if-changed for a text value: a differing value is sent and, once
    // acknowledged, recorded whole, so the record always holds what the
    // terminal holds, however long.
    bool Text(const SettingCommand& command, const std::string& value, std::string& recorded) {
        if (value == recorded) return true;
        if (!Send(command, FormatCommand(command.format, value))) return false;
        recorded = value;
        return true;
    }

    // Send-if-changed for a number kept as decimal text in the record.
    bool NumberAsText(const SettingCommand& command, long long value, std::string& recorded) {
        if (value == CellInteger(recorded)) return true;
        if (!Send(command, FormatCommand(command.format, value))) return false;
        recorded = std::to_string(value);
        return true;
    }

    template <class Field>
    bool Number(const SettingCommand& command, long long value, Field& recorded) {
        if (value == static_cast<long long>(recorded)) return true;
        if (!Send(command, FormatCommand(command.format, value))) return false;
        recorded = static_cast<Field>(value);
        return true;
    }

    void Reject(const std::string& message) {
        if (engine_.Prompt() != nullptr) engine_.Prompt()->ShowMessage(message);
    }

  private:
    CommandEngine& engine_;
    std::uint32_t deviceId_;
    bool commandFirst_;
    std::optional<std::pair<int, int>> unsendable_;
};

long long YesNo(const std::string& cell) {
    return cell == text::kYes ? 1 : 0;
}

bool IsHexText(const std::string& text) {
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

bool StepPresetTexts(CommandEngine& engine, std::uint32_t deviceId) {
    Step step(engine, deviceId, false);
    const std::string texts[3] = {step.Cell(1, grid::kLeftValue), step.Cell(2, grid::kLeftValue),
                                  step.Cell(3, grid::kLeftValue)};
    if (step.RefuseUnsendable()) return false;
    for (const auto& t : texts) {
        if (t.size() > kPresetTextLimit) {
            engine.PostWorkerLog(text::kTextTooLong);
            return false;
        }
    }
    const SettingCommand* commands[3] = {&cmd::kText1, &cmd::kText2, &cmd::kText3};
    std::string AlarmSettings::*fields[3] = {&AlarmSettings::text1, &AlarmSettings::text2,
                                             &AlarmSettings::text3};
    for (int i = 0; i < 3; ++i) {
        std::string recorded;
        {
            std::lock_guard guard(engine.SettingsLock());
            recorded = engine.Settings().*fields[i];
        }
        if (texts[i] == recorded) continue;
        // The lock is taken only to record the value, never across the wait.
        const std::string line = FormatCommand(commands[i]->format, texts[i]);
        const bool ok = engine.SendAndAwaitOk(deviceId, line);
        engine.PostWorkerLog(ok ? commands[i]->success : commands[i]->failure);
        engine.PostWorkerLog(texts[i]);
        if (!ok) return false;
        std::lock_guard guard(engine.SettingsLock());
        engine.MutableSettings().*fields[i] = texts[i];
    }
    return true;
}

bool StepPriorities(CommandEngine& engine, std::uint32_t deviceId) {
    Step step(engine, deviceId, false);
    auto cell = [&](int row) { return CellInteger(step.Cell(row, grid::kLeftValue)); };
    const long long phone = cell(5), sms = cell(6), gprs = cell(7), mic = cell(8), fm = cell(9),
                    interPhone = cell(10), local = cell(11), lineIn = cell(12), mp3 = cell(13);
    if (step.RefuseUnsendable()) return false;
    std::lock_guard guard(engine.SettingsLock());
    AlarmSettings& s = engine.MutableSettings();
    return step.Number(cmd::kPhonePriority, phone, s.phonePriority) &&
           step.Number(cmd::kSmsPriority, sms, s.smsPriority) &&
           step.Number(cmd::kGprsPriority, gprs, s.gprsPriority) &&
           step.Number(cmd::kMicPriority, mic, s.micPriority) &&
           step.Number(cmd::kInterPhonePriority, interPhone, s.interPhonePriority) &&
           step.Number(cmd::kFmPriority, fm, s.fmPriority) &&
           step.Number(cmd::kMp3Priority, mp3, s.mp3Priority) &&
           step.Number(cmd::kLocalAlarmPriority, local, s.localAlarmPriority) &&
           step.Number(cmd::kLineInPriority, lineIn, s.lineInPriority);
}

bool StepPlayCounts(CommandEngine& engine, std::uint32_t deviceId) {
    Step step(engine, deviceId, false);
    const long long counts[3] = {CellInteger(step.Cell(15, grid::kLeftValue)),
                                 CellInteger(step.Cell(16, grid::kLeftValue)),
                                 CellInteger(step.Cell(17, grid::kLeftValue))};
    if (step.RefuseUnsendable()) return false;
    for (long long c : counts) {
        if (c < 0 || c > kPlayCountMax) {
            engine.PostWorkerLog(text::kPlayCountRange);
            return false;
        }
    }
    std::lock_guard guard(engine.SettingsLock());
    AlarmSettings& s = engine.MutableSettings();
    return step.Number(cmd::kSmsPlayNumber, counts[0], s.smsPlayNumber) &&
           step.Number(cmd::kGprsPlayNumber, counts[1], s.gprsPlayNumber) &&
           step.Number(cmd::kLocalAlarmPlayNumber, counts[2], s.localAlarmPlayNumber);
}

bool StepModem(CommandEngine& engine, std::uint32_t deviceId) {
    Step step(engine, deviceId, true);
    auto cell = [&](int row) { return step.Cell(row, grid::kRightValue); };
    const std::string totalServers = cell(1), serverIp = cell(2), serverPort = cell(3),
                      secondaryIp = cell(4), secondaryPort = cell(5), dns = cell(6), dns2 = cell(7),
                      debug = cell(9), returnToMain = cell(10), modemId = cell(11),
                      modemPhone = cell(12), retry = cell(13), dialWait = cell(14), apn = cell(16),
                      pppUser = cell(17), pppPassword = cell(18), centerCall = cell(19),
                      smsCenter = cell(20), heartbeat = cell(21);
    if (step.RefuseUnsendable()) return false;

    if (modemId.size() != 8) {
        step.Reject(text::kModemIdLength);
        return false;
    }
    if (!IsHexText(modemId)) {
        step.Reject(text::kModemIdHex);
        return false;
    }
    if (modemPhone.size() != 11) {
        step.Reject(text::kSimLength);
        return false;
    }
    if (smsCenter != text::kSmsCenterDefault) {
        for (char c : smsCenter) {
            if (!std::isdigit(static_cast<unsigned char>(c)) && c != '+') {
                step.Reject(text::kSmsCenterChars);
                return false;
            }
        }
    }
    const long long beat = CellInteger(heartbeat);
    if (beat < kHeartbeatMin || beat > kHeartbeatMax || heartbeat.size() > kHeartbeatTextMax) {
        step.Reject(text::kHeartbeatRange);
        return false;
    }
    if (serverIp.size() > kServerAddressMax) return false;  // refused without a message

    std::lock_guard guard(engine.SettingsLock());
    AlarmSettings& s = engine.MutableSettings();
    DtuSettings& d = s.dtu;
    if (!step.Text(cmd::kTotalServers, totalServers, s.totalServers) ||
        !step.Text(cmd::kServerIp, serverIp, d.serverIp) ||
        !step.Text(cmd::kServerPort, serverPort, d.serverPort) ||
        !step.Text(cmd::kSecondaryServerIp, secondaryIp, d.secondaryServerIp) ||
        !step.Text(cmd::kSecondaryServerPort, secondaryPort, d.secondaryServerPort) ||
        !step.Text(cmd::kDnsServer, dns, d.dnsServerIp) ||
        !step.Text(cmd::kSecondDnsServer, dns2, d.secondDnsServerIp) ||
        !step.Text(cmd::kDebugLevel, debug, d.debugLevel) ||
        !step.NumberAsText(cmd::kReturnToMain, YesNo(returnToMain), d.returnToMainServer) ||
        !step.Text(cmd::kModemId, modemId, d.modemId) ||
        !step.Text(cmd::kModemPhone, modemPhone, d.modemPhoneNumber) ||
        !step.Text(cmd::kRetryTimes, retry, d.linkFailRetryTimes) ||
        !step.Text(cmd::kDialWait, dialWait, d.dialFailWaitTime) ||
        !step.Text(cmd::kApn, apn, d.apn) || !step.Text(cmd::kPppUser, pppUser, d.pppUserId) ||
        !step.Text(cmd::kPppPassword, pppPassword, d.pppPassword) ||
        !step.Text(cmd::kCenterCall, centerCall, d.centerCallNumber)) {
        return false;
    }
    // The SMS centre is compared as it stands; a differing text that names
    // the default is sent, and recorded, as the empty value.
    if (smsCenter != d.smsCenter) {
        const std::string value = smsCenter.find(text::kSmsCenterDefault) != std::string::npos
                                      ? std::string()
                                      : smsCenter;
        if (!step.Send(cmd::kSmsCenter, FormatCommand(cmd::kSmsCenter.format, value))) return false;
        d.smsCenter = value;
    }
    return step.Text(cmd::kHeartbeat, heartbeat, d.heartbeatPollTime);
}

bool StepOthers(CommandEngine& engine, std::uint32_t deviceId) {
    Step step(engine, deviceId, false);
    auto cell = [&](int row) { return step.Cell(row, grid::kLeftValue); };
    const std::string smsResponse = cell(19), smsBackup = cell(20), smsStateTime = cell(21),
                      fmFreqCell = cell(22), fmSnr = cell(23), fmVoice = cell(24),
                      fmReceive = cell(25), mp3Mode = cell(26), mp3Volume = cell(27),
                      ttsMode = cell(28), ttsLevel = cell(29), ttsSpeed = cell(30),
                      ttsTone = cell(31), mcu = cell(32), interPhone = cell(33);
    if (step.RefuseUnsendable()) return false;
    std::string fmFreq;
    if (!FmFrequencyValue(fmFreqCell, fmFreq)) {
        step.Reject(text::kFmFreqDigits);
        return false;
    }
    long long mp3ModeValue = 0;
    if (mp3Mode == text::kSingleRepeat) mp3ModeValue = 1;
    if (mp3Mode == text::kAllRepeat) mp3ModeValue = 2;

    std::lock_guard guard(engine.SettingsLock());
    AlarmSettings& s = engine.MutableSettings();
    if (!step.Number(cmd::kSmsResponse, YesNo(smsResponse), s.smsResponse) ||
        !step.NumberAsText(cmd::kSmsBackup, YesNo(smsBackup), s.smsBackup) ||
        !step.Text(cmd::kSmsStateTime, smsStateTime, s.smsStateTime) ||
        !step.Text(cmd::kFmFreq, fmFreq, s.fmFreq) || !step.Text(cmd::kFmSnr, fmSnr, s.fmSnr) ||
        !step.Text(cmd::kFmVoice, fmVoice, s.fmVoice) ||
        !step.NumberAsText(cmd::kFmReceiveEnable, YesNo(fmReceive), s.fmReceiveEnable) ||
        !step.NumberAsText(cmd::kMp3PlayMode, mp3ModeValue, s.mp3PlayMode) ||
        !step.Text(cmd::kMp3Volume, mp3Volume, s.mp3PlayVoice) ||
        !step.NumberAsText(cmd::kTtsVoice, ttsMode == text::kFemaleVoice ? 0 : 1, s.ttsPlayMode) ||
        !step.Text(cmd::kTtsLevel, ttsLevel, s.ttsPlayLevel) ||
        !step.Text(cmd::kTtsSpeed, ttsSpeed, s.ttsPlaySpeed) ||
        !step.Text(cmd::kTtsTone, ttsTone, s.ttsPlayTone) ||
        !step.NumberAsText(cmd::kMcuFunction, mcu == text::kYes ? 1 : 2, s.mcuWorkFunction)) {
        return false;
    }
    // The intercom switch is sent only for a clear yes or no.
    if (interPhone != text::kYes && interPhone != text::kNo) return true;
    const long long open = interPhone == text::kYes ? 1 : 0;
    if (open == CellInteger(s.interPhoneOpen)) return true;
    if (!step.Send(cmd::kInterPhoneOpen, FormatCommand(cmd::kInterPhoneOpen.format, open))) {
        return false;
    }
    s.interPhoneOpen = std::to_string(open);
    engine.Pause(engine.Timing().intercomPause);
    return true;
}

}  // namespace

long long CellInteger(const std::string& cell) {
    std::size_t i = 0;
    while (i < cell.size() && std::isspace(static_cast<unsigned char>(cell[i]))) ++i;
    bool negative = false;
    if (i < cell.size() && (cell[i] == '+' || cell[i] == '-')) negative = cell[i++] == '-';
    long long value = 0;
    constexpr long long kCap = std::numeric_limits<long long>::max() / 10 - 10;
    for (; i < cell.size() && std::isdigit(static_cast<unsigned char>(cell[i])); ++i) {
        if (value < kCap) value = value * 10 + (cell[i] - '0');
    }
    return negative ? -value : value;
}

bool FmFrequencyValue(const std::string& cell, std::string& value) {
    for (char c : cell) {
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.') return false;
    }
    // from_chars always reads "." as the decimal point; strtod would follow
    // the process locale and stop at it under a decimal-comma desktop. Like
    // strtod it reads the longest number at the start ("1.2.3" is 1.2) and
    // nothing readable is 0.
    const char* const first = cell.data();
    const char* const last = first + cell.size();
    double read = 0.0;
    if (std::from_chars(first, last, read, std::chars_format::fixed).ec ==
        std::errc::result_out_of_range) {
        // Too large to be a frequency, or so small that it is 0.
        const char* const point = std::find(first, last, '.');
        if (std::any_of(first, point, [](char c) { return c != '0'; })) return false;
        read = 0.0;
    }
    const float megahertz = static_cast<float>(read);
    const float units = megahertz * 100.0f;  // rounded to single precision, as the terminal does
    if (!std::isfinite(units) || units >= 2147483648.0f) return false;
    value = std::to_string(static_cast<long>(units));
    return true;
}

bool RunSaveSequence(CommandEngine& engine, std::uint32_t deviceId) {
    return StepPresetTexts(engine, deviceId) && StepPriorities(engine, deviceId) &&
           StepPlayCounts(engine, deviceId) && StepModem(engine, deviceId) &&
           StepOthers(engine, deviceId);
}

}  // namespace pelmora
