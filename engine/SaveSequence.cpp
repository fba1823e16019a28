#include "SaveSequence.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <deque>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "CommandTexts.h"
#include "Conversations.h"
#include "EngineTiming.h"

namespace pelmora {

namespace {

constexpr long long kPlayCountMax = 65535;
constexpr long long kHeartbeatMin = 31;
constexpr long long kHeartbeatMax = 65535;
constexpr std::size_t kHeartbeatTextMax = 5;
constexpr std::size_t kServerAddressMax = 100;

// One command of the sequence: its line, its two log lines, and what the
// record holds once the terminal acknowledged it.
struct SaveCommand {
    std::string line;
    std::string logged;  // logged beside the outcome: the line, or a preset text
    const SettingCommand* command = nullptr;
    bool lineFirst = false;  // the GPRS step logs the line before the outcome
    std::function<void(AlarmSettings&)> record;
    bool pauseAfter = false;  // the intercom module needs a moment after its line
};

// Builds one step: reads its cells, checks them, and lists a command for
// every value that differs from the record (read once, under its lock).
class StepBuilder {
  public:
    StepBuilder(ConversationContext& context, std::deque<SaveCommand>& out, bool lineFirst)
        : context_(context), out_(out), lineFirst_(lineFirst) {
        context.WithSettings([this](AlarmSettings& s) { record_ = s; });
    }

    std::string Cell(int row, int column) {
        if (context_.Grid() == nullptr) return {};
        auto text = context_.Grid()->CellText(row, column);
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
                        context_.Grid()->CellLabel(unsendable_->first, unsendable_->second)));
        return true;
    }

    void Reject(const std::string& message) {
        if (context_.Prompt() != nullptr) context_.Prompt()->ShowMessage(message);
    }

    const AlarmSettings& Record() const { return record_; }

    void Add(const SettingCommand& command, std::string line,
             std::function<void(AlarmSettings&)> record) {
        SaveCommand c;
        c.logged = line;
        c.line = std::move(line);
        c.command = &command;
        c.lineFirst = lineFirst_;
        c.record = std::move(record);
        out_.push_back(std::move(c));
    }

    // Send-if-changed for a text value, recorded whole once acknowledged, so
    // the record always holds what the terminal holds, however long.
    void Text(const SettingCommand& command, const std::string& value,
              std::string AlarmSettings::*field) {
        if (value == record_.*field) return;
        Add(command, FormatCommand(command.format, value),
            [value, field](AlarmSettings& s) { s.*field = value; });
    }
    void Text(const SettingCommand& command, const std::string& value,
              std::string DtuSettings::*field) {
        if (value == record_.dtu.*field) return;
        Add(command, FormatCommand(command.format, value),
            [value, field](AlarmSettings& s) { s.dtu.*field = value; });
    }

    // Send-if-changed for a number kept as decimal text in the record.
    void NumberAsText(const SettingCommand& command, long long value,
                      std::string AlarmSettings::*field) {
        if (value == CellInteger(record_.*field)) return;
        Add(command, FormatCommand(command.format, value),
            [value, field](AlarmSettings& s) { s.*field = std::to_string(value); });
    }
    void NumberAsText(const SettingCommand& command, long long value,
                      std::string DtuSettings::*field) {
        if (value == CellInteger(record_.dtu.*field)) return;
        Add(command, FormatCommand(command.format, value),
            [value, field](AlarmSettings& s) { s.dtu.*field = std::to_string(value); });
    }

    template <class T>
    void Number(const SettingCommand& command, long long value, T AlarmSettings::*field) {
        if (value == static_cast<long long>(record_.*field)) return;
        Add(command, FormatCommand(command.format, value),
            [value, field](AlarmSettings& s) { s.*field = static_cast<T>(value); });
    }

    std::deque<SaveCommand>& Out() { return out_; }

  private:
    ConversationContext& context_;
    std::deque<SaveCommand>& out_;
    bool lineFirst_;
    AlarmSettings record_;
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

bool StepPresetTexts(ConversationContext& context, std::deque<SaveCommand>& out) {
    StepBuilder step(context, out, false);
    const std::string texts[3] = {step.Cell(1, grid::kLeftValue), step.Cell(2, grid::kLeftValue),
                                  step.Cell(3, grid::kLeftValue)};
    if (step.RefuseUnsendable()) return false;
    for (const auto& t : texts) {
        if (t.size() > kPresetTextLimit) {
            context.Log(text::kTextTooLong);
            return false;
        }
    }
    const SettingCommand* commands[3] = {&cmd::kText1, &cmd::kText2, &cmd::kText3};
    std::string AlarmSettings::*fields[3] = {&AlarmSettings::text1, &AlarmSettings::text2,
                                             &AlarmSettings::text3};
    for (int i = 0; i < 3; ++i) {
        step.Text(*commands[i], texts[i], fields[i]);
        // The preset texts log the value itself beside the outcome.
        if (!out.empty() && out.back().command == commands[i]) out.back().logged = texts[i];
    }
    return true;
}

bool StepPriorities(ConversationContext& context, std::deque<SaveCommand>& out) {
    StepBuilder step(context, out, false);
    auto cell = [&](int row) { return CellInteger(step.Cell(row, grid::kLeftValue)); };
    const long long phone = cell(5), sms = cell(6), gprs = cell(7), mic = cell(8), fm = cell(9),
                    interPhone = cell(10), local = cell(11), lineIn = cell(12), mp3 = cell(13);
    if (step.RefuseUnsendable()) return false;
    step.Number(cmd::kPhonePriority, phone, &AlarmSettings::phonePriority);
    step.Number(cmd::kSmsPriority, sms, &AlarmSettings::smsPriority);
    step.Number(cmd::kGprsPriority, gprs, &AlarmSettings::gprsPriority);
    step.Number(cmd::kMicPriority, mic, &AlarmSettings::micPriority);
    step.Number(cmd::kInterPhonePriority, interPhone, &AlarmSettings::interPhonePriority);
    step.Number(cmd::kFmPriority, fm, &AlarmSettings::fmPriority);
    step.Number(cmd::kMp3Priority, mp3, &AlarmSettings::mp3Priority);
    step.Number(cmd::kLocalAlarmPriority, local, &AlarmSettings::localAlarmPriority);
    step.Number(cmd::kLineInPriority, lineIn, &AlarmSettings::lineInPriority);
    return true;
}

bool StepPlayCounts(ConversationContext& context, std::deque<SaveCommand>& out) {
    StepBuilder step(context, out, false);
    const long long counts[3] = {CellInteger(step.Cell(15, grid::kLeftValue)),
                                 CellInteger(step.Cell(16, grid::kLeftValue)),
                                 CellInteger(step.Cell(17, grid::kLeftValue))};
    if (step.RefuseUnsendable()) return false;
    for (long long c : counts) {
        if (c < 0 || c > kPlayCountMax) {
            context.Log(text::kPlayCountRange);
            return false;
        }
    }
    step.Number(cmd::kSmsPlayNumber, counts[0], &AlarmSettings::smsPlayNumber);
    step.Number(cmd::kGprsPlayNumber, counts[1], &AlarmSettings::gprsPlayNumber);
    step.Number(cmd::kLocalAlarmPlayNumber, counts[2], &AlarmSettings::localAlarmPlayNumber);
    return true;
}

bool StepModem(ConversationContext& context, std::deque<SaveCommand>& out) {
    StepBuilder step(context, out, true);
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

    step.Text(cmd::kTotalServers, totalServers, &AlarmSettings::totalServers);
    step.Text(cmd::kServerIp, serverIp, &DtuSettings::serverIp);
    step.Text(cmd::kServerPort, serverPort, &DtuSettings::serverPort);
    step.Text(cmd::kSecondaryServerIp, secondaryIp, &DtuSettings::secondaryServerIp);
    step.Text(cmd::kSecondaryServerPort, secondaryPort, &DtuSettings::secondaryServerPort);
    step.Text(cmd::kDnsServer, dns, &DtuSettings::dnsServerIp);
    step.Text(cmd::kSecondDnsServer, dns2, &DtuSettings::secondDnsServerIp);
    step.Text(cmd::kDebugLevel, debug, &DtuSettings::debugLevel);
    step.NumberAsText(cmd::kReturnToMain, YesNo(returnToMain), &DtuSettings::returnToMainServer);
    step.Text(cmd::kModemId, modemId, &DtuSettings::modemId);
    step.Text(cmd::kModemPhone, modemPhone, &DtuSettings::modemPhoneNumber);
    step.Text(cmd::kRetryTimes, retry, &DtuSettings::linkFailRetryTimes);
    step.Text(cmd::kDialWait, dialWait, &DtuSettings::dialFailWaitTime);
    step.Text(cmd::kApn, apn, &DtuSettings::apn);
    step.Text(cmd::kPppUser, pppUser, &DtuSettings::pppUserId);
    step.Text(cmd::kPppPassword, pppPassword, &DtuSettings::pppPassword);
    step.Text(cmd::kCenterCall, centerCall, &DtuSettings::centerCallNumber);
    // The SMS centre is compared as it stands; a differing text that names
    // the default is sent, and recorded, as the empty value.
    if (smsCenter != step.Record().dtu.smsCenter) {
        const std::string value = smsCenter.find(text::kSmsCenterDefault) != std::string::npos
                                      ? std::string()
                                      : smsCenter;
        step.Add(cmd::kSmsCenter, FormatCommand(cmd::kSmsCenter.format, value),
                 [value](AlarmSettings& s) { s.dtu.smsCenter = value; });
    }
    step.Text(cmd::kHeartbeat, heartbeat, &DtuSettings::heartbeatPollTime);
    return true;
}

bool StepOthers(ConversationContext& context, std::deque<SaveCommand>& out) {
    StepBuilder step(context, out, false);
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

    step.Number(cmd::kSmsResponse, YesNo(smsResponse), &AlarmSettings::smsResponse);
    step.NumberAsText(cmd::kSmsBackup, YesNo(smsBackup), &AlarmSettings::smsBackup);
    step.Text(cmd::kSmsStateTime, smsStateTime, &AlarmSettings::smsStateTime);
    step.Text(cmd::kFmFreq, fmFreq, &AlarmSettings::fmFreq);
    step.Text(cmd::kFmSnr, fmSnr, &AlarmSettings::fmSnr);
    step.Text(cmd::kFmVoice, fmVoice, &AlarmSettings::fmVoice);
    step.NumberAsText(cmd::kFmReceiveEnable, YesNo(fmReceive), &AlarmSettings::fmReceiveEnable);
    step.NumberAsText(cmd::kMp3PlayMode, mp3ModeValue, &AlarmSettings::mp3PlayMode);
    step.Text(cmd::kMp3Volume, mp3Volume, &AlarmSettings::mp3PlayVoice);
    step.NumberAsText(cmd::kTtsVoice, ttsMode == text::kFemaleVoice ? 0 : 1,
                      &AlarmSettings::ttsPlayMode);
    step.Text(cmd::kTtsLevel, ttsLevel, &AlarmSettings::ttsPlayLevel);
    step.Text(cmd::kTtsSpeed, ttsSpeed, &AlarmSettings::ttsPlaySpeed);
    step.Text(cmd::kTtsTone, ttsTone, &AlarmSettings::ttsPlayTone);
    step.NumberAsText(cmd::kMcuFunction, mcu == text::kYes ? 1 : 2,
                      &AlarmSettings::mcuWorkFunction);
    // The intercom switch is sent only for a clear yes or no.
    if (interPhone != text::kYes && interPhone != text::kNo) return true;
    const long long open = interPhone == text::kYes ? 1 : 0;
    const std::size_t before = out.size();
    step.NumberAsText(cmd::kInterPhoneOpen, open, &AlarmSettings::interPhoneOpen);
    if (out.size() > before) out.back().pauseAfter = true;
    return true;
}

using StepFunction = bool (*)(ConversationContext&, std::deque<SaveCommand>&);
constexpr StepFunction kSteps[] = {StepPresetTexts, StepPriorities, StepPlayCounts, StepModem,
                                   StepOthers};

// The five steps in order, one command at a time, each sent only after the
// previous one was acknowledged; the first failure ends the sequence.
class SaveConversation final : public Conversation {
  public:
    explicit SaveConversation(std::uint32_t deviceId) : deviceId_(deviceId) {}

    std::optional<Exchange> Next(ConversationContext& context, const ExchangeEnd* last) override {
        if (last == nullptr) {
            // The grid shows one terminal's read-back: its differences are
            // meaningless for any other terminal.
            if (!context.CheckPagesHold(deviceId_)) return End(GroupOutcome::Cancelled);
        } else if (pausing_) {
            pausing_ = false;
            if (Interrupts(last->verdict)) return End(OutcomeOf(last->verdict));
        } else {
            SaveCommand& sent = commands_.front();
            const bool ok = last->verdict == Verdict::Answered;
            const char* outcome = ok ? sent.command->success : sent.command->failure;
            if (sent.lineFirst) {
                context.Log(sent.logged);
                context.Log(outcome);
            } else {
                context.Log(outcome);
                context.Log(sent.logged);
            }
            if (!ok) return End(OutcomeOf(last->verdict));
            context.WithSettings(sent.record);
            const bool pause = sent.pauseAfter;
            commands_.pop_front();
            if (pause) {
                pausing_ = true;
                Exchange wait;
                wait.interval = context.Timing().intercomPause;
                wait.polls = 1;
                return wait;
            }
        }
        while (commands_.empty()) {
            if (step_ == std::size(kSteps)) {
                context.Log(text::kSaveDone);
                return End(GroupOutcome::Succeeded);
            }
            // Nothing of a refused step is sent; what went before stays.
            if (!kSteps[step_++](context, commands_))
                return End(wroteAny_ ? GroupOutcome::Refused : GroupOutcome::Cancelled);
        }
        wroteAny_ = true;
        return TextExchange(context.Timing(), commands_.front().line);
    }

  private:
    std::nullopt_t End(GroupOutcome outcome) {
        outcome_ = outcome;
        commands_.clear();
        return std::nullopt;
    }

    std::uint32_t deviceId_;
    std::deque<SaveCommand> commands_;
    std::size_t step_ = 0;
    bool pausing_ = false;
    bool wroteAny_ = false;
};

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

std::unique_ptr<Conversation> MakeSaveConversation(std::uint32_t deviceId) {
    return std::make_unique<SaveConversation>(deviceId);
}

}  // namespace pelmora
