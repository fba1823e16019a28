#include "StatefulTerminal.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <string_view>
#include <utility>

#include "CmdDataObj.h"
#include "LinkProtocol.h"
#include "SettingsReport.h"

namespace dovrik::sim {

namespace {

using pelmora::AlarmSettings;
using pelmora::DtuSettings;

constexpr std::uint8_t kFrameStart[] = {0x02, 0x11, 0x01};
constexpr std::string_view kCommitLine = "***COMMIT CONFIG***";
constexpr std::string_view kOk = "OK\r\n";
constexpr std::string_view kError = "ERROR\r\n";
constexpr std::size_t kVersionHalf = pelmora::CCmdDataObj::kVersionPayload / 2;

// A whole decimal number, optionally negative; nothing else around it.
std::optional<long long> Integer(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Stores a command's value into the record; false when the terminal would
// refuse it (not a number, out of range, too long for its field).
using Apply = std::function<bool(AlarmSettings&, std::string_view)>;

Apply Text(std::string AlarmSettings::*field, std::size_t limit = pelmora::kAlarmValueLimit) {
    return [field, limit](AlarmSettings& s, std::string_view value) {
        if (value.size() > limit) return false;
        s.*field = value;
        return true;
    };
}

Apply ModemText(std::string DtuSettings::*field) {
    return [field](AlarmSettings& s, std::string_view value) {
        if (value.size() > pelmora::kModemValueLimit) return false;
        s.dtu.*field = value;
        return true;
    };
}

// A "%d" option kept as decimal text.
Apply Option(std::string AlarmSettings::*field, long long low, long long high) {
    return [field, low, high](AlarmSettings& s, std::string_view value) {
        const auto number = Integer(value);
        if (!number || *number < low || *number > high) return false;
        s.*field = std::to_string(*number);
        return true;
    };
}

Apply ModemOption(std::string DtuSettings::*field, long long low, long long high) {
    return [field, low, high](AlarmSettings& s, std::string_view value) {
        const auto number = Integer(value);
        if (!number || *number < low || *number > high) return false;
        s.dtu.*field = std::to_string(*number);
        return true;
    };
}

template <typename T>
Apply Number(T AlarmSettings::*field, long long low, long long high) {
    return [field, low, high](AlarmSettings& s, std::string_view value) {
        const auto number = Integer(value);
        if (!number || *number < low || *number > high) return false;
        s.*field = static_cast<T>(*number);
        return true;
    };
}

const std::map<std::string, Apply, std::less<>>& SettingCommands() {
    constexpr long long kTopPriority = 10;  // the highest a terminal reports
    constexpr long long kMaxPlays = 65535;
    static const std::map<std::string, Apply, std::less<>> commands = {
        {"AT+LRMSETTXT1", Text(&AlarmSettings::text1, pelmora::kPresetTextLimit)},
        {"AT+LRMSETTXT2", Text(&AlarmSettings::text2, pelmora::kPresetTextLimit)},
        {"AT+LRMSETTXT3", Text(&AlarmSettings::text3, pelmora::kPresetTextLimit)},
        {"AT+LRMPHNPRIO", Number(&AlarmSettings::phonePriority, 0, kTopPriority)},
        {"AT+LRMSMSPRIO", Number(&AlarmSettings::smsPriority, 0, kTopPriority)},
        {"AT+LRMGPRSPRIO", Number(&AlarmSettings::gprsPriority, 0, kTopPriority)},
        {"AT+LRMMICPRIO", Number(&AlarmSettings::micPriority, 0, kTopPriority)},
        {"AT+LRMINPHNPRIO", Number(&AlarmSettings::interPhonePriority, 0, kTopPriority)},
        {"AT+LRMFMPRIO", Number(&AlarmSettings::fmPriority, 0, kTopPriority)},
        {"AT+LRMMP3PRIO", Number(&AlarmSettings::mp3Priority, 0, kTopPriority)},
        {"AT+LRMLCLLRMPRIO", Number(&AlarmSettings::localAlarmPriority, 0, kTopPriority)},
        {"AT+LRMLINEPRIO", Number(&AlarmSettings::lineInPriority, 0, kTopPriority)},
        {"AT+LRMSMSPLYNUM", Number(&AlarmSettings::smsPlayNumber, 0, kMaxPlays)},
        {"AT+LRMGPRSPLYNUM", Number(&AlarmSettings::gprsPlayNumber, 0, kMaxPlays)},
        {"AT+LRMLCLLRMPLYNUM", Number(&AlarmSettings::localAlarmPlayNumber, 0, kMaxPlays)},
        {"at+svrcnt", Text(&AlarmSettings::totalServers)},
        {"at+ipad", ModemText(&DtuSettings::serverIp)},
        {"at+port", ModemText(&DtuSettings::serverPort)},
        {"at+ipsec", ModemText(&DtuSettings::secondaryServerIp)},
        {"at+ptsec", ModemText(&DtuSettings::secondaryServerPort)},
        {"at+dnssvr", ModemText(&DtuSettings::dnsServerIp)},
        {"at+dnssv2", ModemText(&DtuSettings::secondDnsServerIp)},
        {"at+debug", ModemText(&DtuSettings::debugLevel)},
        {"at+retmain", ModemOption(&DtuSettings::returnToMainServer, 0, 1)},
        {"at+idnt", ModemText(&DtuSettings::modemId)},
        {"at+phon", ModemText(&DtuSettings::modemPhoneNumber)},
        {"AT+RETRY", ModemText(&DtuSettings::linkFailRetryTimes)},
        {"AT+RDLWT", ModemText(&DtuSettings::dialFailWaitTime)},
        {"at+apn", ModemText(&DtuSettings::apn)},
        {"at+username", ModemText(&DtuSettings::pppUserId)},
        {"at+password", ModemText(&DtuSettings::pppPassword)},
        {"at+cent", ModemText(&DtuSettings::centerCallNumber)},
        {"at+smsc", ModemText(&DtuSettings::smsCenter)},
        {"at+polltime", ModemText(&DtuSettings::heartbeatPollTime)},
        {"AT+LRMSMSRSP", Number(&AlarmSettings::smsResponse, 0, 1)},
        {"AT+LRMSMSBK", Option(&AlarmSettings::smsBackup, 0, 1)},
        {"AT+LRMSTATESMSTIME", Text(&AlarmSettings::smsStateTime)},
        {"AT+LRMFMFREQ", Text(&AlarmSettings::fmFreq)},
        {"AT+LRMFMSNR", Text(&AlarmSettings::fmSnr)},
        {"AT+LRMFMVOICE", Text(&AlarmSettings::fmVoice)},
        {"AT+LRMFMRECEN", Option(&AlarmSettings::fmReceiveEnable, 0, 1)},
        {"AT+LRMMP3PLYMODE", Option(&AlarmSettings::mp3PlayMode, 0, 2)},
        {"AT+LRMMP3LVL", Text(&AlarmSettings::mp3PlayVoice)},
        {"AT+LRMTTSVOICE", Option(&AlarmSettings::ttsPlayMode, 0, 1)},
        {"AT+LRMTTSLVL", Text(&AlarmSettings::ttsPlayLevel)},
        {"AT+LRMTTSSPEED", Text(&AlarmSettings::ttsPlaySpeed)},
        {"AT+LRMTTSTONE", Text(&AlarmSettings::ttsPlayTone)},
        {"AT+LRMMCUFUN", Option(&AlarmSettings::mcuWorkFunction, 1, 2)},
        {"AT+LRMSETINPHNOPEN", Option(&AlarmSettings::interPhoneOpen, 0, 1)},
    };
    return commands;
}

enum class ListOperation { Add, Delete, Reset };

struct ListCommand {
    int listKind;  // as pelmora::NumberListOf
    ListOperation operation;
};

const std::map<std::string, ListCommand, std::less<>>& ListCommands() {
    static const std::map<std::string, ListCommand, std::less<>> commands = {
        {"AT+LRMADDADMINNO", {1, ListOperation::Add}},
        {"AT+LRMADDLRMNO", {2, ListOperation::Add}},
        {"AT+LRMADDBKNO", {3, ListOperation::Add}},
        {"AT+LRMDELADMINNO", {1, ListOperation::Delete}},
        {"AT+LRMDELLRMNO", {2, ListOperation::Delete}},
        {"AT+LRMDELBKNO", {3, ListOperation::Delete}},
        {"AT+LRMSETADMINNO", {1, ListOperation::Reset}},
        {"AT+LRMSETLRMNO", {2, ListOperation::Reset}},
        {"AT+LRMSETBKNO", {3, ListOperation::Reset}},
    };
    return commands;
}

// The terminal keeps each list packed, in the order the numbers were added,
// without repeats. A command it cannot carry out whole changes nothing.
bool ApplyListCommand(AlarmSettings& settings, const ListCommand& command,
                      std::string_view argument) {
    pelmora::NumberList* list = pelmora::NumberListOf(settings, command.listKind);
    if (list == nullptr) return false;
    if (command.operation == ListOperation::Reset) {
        if (!argument.empty()) return false;
        list->fill(std::string());
        return true;
    }

    std::vector<std::string_view> numbers;
    for (std::size_t start = 0;;) {
        const std::size_t comma = argument.find(',', start);
        const std::string_view number = argument.substr(start, comma - start);
        if (number.empty() || number.size() > pelmora::kNumberEntryLimit) return false;
        numbers.push_back(number);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }

    std::vector<std::string> kept;
    for (const auto& entry : *list) {
        if (!entry.empty()) kept.push_back(entry);
    }
    const auto listed = [&kept](std::string_view number) {
        return std::find(kept.begin(), kept.end(), number) != kept.end();
    };
    if (command.operation == ListOperation::Add) {
        for (const auto number : numbers) {
            if (!listed(number)) kept.emplace_back(number);
        }
        if (kept.size() > list->size()) return false;
    } else {
        std::erase_if(kept, [&numbers](const std::string& entry) {
            return std::find(numbers.begin(), numbers.end(), entry) != numbers.end();
        });
    }
    list->fill(std::string());
    std::move(kept.begin(), kept.end(), list->begin());
    return true;
}

bool Escaped(char c) {
    const auto b = static_cast<std::uint8_t>(c);
    return b == kEscapeByte || b == kHeartbeatByte;
}

std::size_t WireSize(std::string_view text) {
    return text.size() + static_cast<std::size_t>(std::count_if(text.begin(), text.end(), Escaped));
}

// How many bytes of `text` the next write takes: at most `plainLimit` bytes
// that escape to at most `wireLimit` bytes.
std::size_t PieceLength(std::string_view text, std::size_t plainLimit, std::size_t wireLimit) {
    std::size_t length = 0;
    std::size_t wire = 0;
    while (length < text.size() && length < plainLimit) {
        const std::size_t next = Escaped(text[length]) ? 2 : 1;
        if (wire + next > wireLimit) break;
        wire += next;
        ++length;
    }
    return length;
}

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

Reply ReplyFor(const TerminalScript& script, const std::string& word, Reply otherwise) {
    const auto found = script.replies.find(word);
    return found == script.replies.end() ? otherwise : found->second;
}

}  // namespace

StatefulTerminal::StatefulTerminal(std::uint32_t deviceId, TerminalScript script,
                                   pelmora::AlarmSettings settings)
    : deviceId_(deviceId), script_(std::move(script)), settings_(std::move(settings)) {}

std::vector<TerminalAction> StatefulTerminal::Receive(const std::uint8_t* wire, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = wire[i];
        if (escapePending_) {
            escapePending_ = false;
            if (b == 0xED || b == 0xEE) {
                pending_.push_back(b == 0xED ? 0xFD : 0xFE);
                continue;
            }
            pending_.push_back(kEscapeByte);  // not a pair: kept as it came
        }
        if (b == kEscapeByte) {
            escapePending_ = true;
        } else {
            pending_.push_back(b);
        }
    }

    std::vector<TerminalAction> actions;
    while (auto message = NextMessage()) {
        {
            std::lock_guard guard(lock_);
            messages_.push_back(*message);
        }
        if (message->kind == ReceivedMessage::Kind::Frame) {
            AnswerFrame(message->bytes, actions);
        } else {
            AnswerLine(message->bytes, actions);
        }
    }
    return actions;
}

void StatefulTerminal::ResetStream() {
    pending_.clear();
    escapePending_ = false;
}

std::optional<ReceivedMessage> StatefulTerminal::NextMessage() {
    const std::size_t n = pending_.size();
    if (n == 0) return std::nullopt;

    if (std::equal(pending_.begin(), pending_.begin() + std::min<std::size_t>(n, 3), kFrameStart)) {
        if (n < 5) return std::nullopt;
        const std::size_t total = (static_cast<std::size_t>(pending_[3]) << 8 | pending_[4]) + 7;
        if (total >= pelmora::CCmdDataObj::kShortOverhead &&
            total <= pelmora::FrameStream::kMaxFrame) {
            if (n < total) return std::nullopt;
            return Take(total, ReceivedMessage::Kind::Frame);
        }
        // A length no frame has: the bytes are read as text instead.
    }

    const std::size_t commitPart = std::min(n, kCommitLine.size());
    if (std::equal(pending_.begin(), pending_.begin() + static_cast<long>(commitPart),
                   kCommitLine.begin())) {
        if (n < kCommitLine.size()) return std::nullopt;
        return Take(kCommitLine.size(), ReceivedMessage::Kind::Text);
    }

    const auto end = std::find(pending_.begin(), pending_.end(), '\r');
    if (end != pending_.end())
        return Take(static_cast<std::size_t>(end - pending_.begin()) + 1,
                    ReceivedMessage::Kind::Text);
    if (n >= kMaxLine) return Take(kMaxLine, ReceivedMessage::Kind::Text);
    return std::nullopt;
}

ReceivedMessage StatefulTerminal::Take(std::size_t count, ReceivedMessage::Kind kind) {
    ReceivedMessage message{kind, {pending_.begin(), pending_.begin() + static_cast<long>(count)}};
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(count));
    return message;
}

void StatefulTerminal::AnswerLine(const std::vector<std::uint8_t>& message,
                                  std::vector<TerminalAction>& out) {
    std::string line(message.begin(), message.end());
    if (line == kCommitLine) return;  // the centre expects no answer
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return;

    const std::size_t equals = line.find('=');
    const std::string word = line.substr(0, equals);
    const bool hasArgument = equals != std::string::npos;
    const std::string_view argument =
        hasArgument ? std::string_view(line).substr(equals + 1) : std::string_view();

    std::lock_guard guard(lock_);
    const auto answer = [&](std::string_view text) {
        out.push_back({TerminalAction::Kind::Write, script_.answerDelay, Bytes(text), {}});
    };

    if (word == "AT+SHOW" && !hasArgument) {
        const Reply reply = ReplyFor(script_, word, Reply::Ok);
        if (reply == Reply::Error) answer(kError);
        if (reply != Reply::Ok) return;
        const std::string report = SettingsReport(settings_);
        const bool oneMessage = WireSize(report) <= kMaxWireMessage;
        const std::size_t plainLimit =
            script_.reportChunk > 0 ? script_.reportChunk : report.size();
        const std::size_t wireLimit =
            script_.reportChunk == 0 && !oneMessage ? kReportPiece : kMaxWireMessage;
        for (std::size_t at = 0; at < report.size();) {
            const std::size_t length =
                PieceLength(std::string_view(report).substr(at), plainLimit, wireLimit);
            out.push_back({TerminalAction::Kind::Write,
                           at == 0 ? script_.answerDelay : script_.chunkDelay,
                           Bytes(std::string_view(report).substr(at, length)),
                           {}});
            at += length;
        }
        return;
    }

    std::function<bool(AlarmSettings&)> apply;
    const auto setting = SettingCommands().find(word);
    const auto list = ListCommands().find(word);
    if (hasArgument && setting != SettingCommands().end()) {
        apply = [&setting, argument](AlarmSettings& s) { return setting->second(s, argument); };
    } else if (hasArgument && list != ListCommands().end()) {
        apply = [&list, argument](AlarmSettings& s) {
            return ApplyListCommand(s, list->second, argument);
        };
    }

    const Reply reply = ReplyFor(script_, word, apply ? script_.defaultReply : Reply::Error);
    if (reply == Reply::Silent) return;
    AlarmSettings changed = settings_;
    if (reply == Reply::Error || (apply && !apply(changed))) {
        answer(kError);
        return;
    }
    settings_ = std::move(changed);
    answer(kOk);
}

void StatefulTerminal::AnswerFrame(const std::vector<std::uint8_t>& frame,
                                   std::vector<TerminalAction>& out) {
    pelmora::CCmdDataObj request;
    if (request.UnpackHeader(frame.data(), frame.size()) != 1 || frame.back() != 0x03) return;
    const std::uint16_t code = request.command;
    if ((code & 0x8000) == 0 || code == pelmora::kStatusAnswer) return;

    std::lock_guard guard(lock_);
    const auto chosen = script_.frameResults.find(code);
    const std::optional<std::uint8_t> result =
        chosen == script_.frameResults.end() ? script_.defaultFrameResult : chosen->second;
    if (result) {
        std::vector<std::uint8_t> payload{*result};
        if (code == pelmora::kVersionRequest) {
            payload.assign(pelmora::CCmdDataObj::kVersionPayload, 0);
            std::copy_n(script_.softwareVersion.begin(),
                        std::min(script_.softwareVersion.size(), kVersionHalf), payload.begin());
            std::copy_n(script_.bootVersion.begin(),
                        std::min(script_.bootVersion.size(), kVersionHalf),
                        payload.begin() + kVersionHalf);
        }
        const auto answerCode = static_cast<std::uint16_t>(code & 0x7FFF);
        out.push_back({TerminalAction::Kind::Write,
                       script_.answerDelay,
                       pelmora::PackFrame(deviceId_, answerCode, payload),
                       {}});
    }
    if (code == pelmora::kRestartRequest) {
        out.push_back({TerminalAction::Kind::Restart, {}, {}, script_.restartDelay});
    }
}

void StatefulTerminal::SetScript(TerminalScript script) {
    std::lock_guard guard(lock_);
    script_ = std::move(script);
}

pelmora::AlarmSettings StatefulTerminal::Settings() const {
    std::lock_guard guard(lock_);
    return settings_;
}

std::vector<ReceivedMessage> StatefulTerminal::Messages() const {
    std::lock_guard guard(lock_);
    return messages_;
}

}  // namespace dovrik::sim
