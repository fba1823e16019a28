#include "SettingsParser.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace pelmora {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// A number-list piece this long or longer fails the list.
constexpr std::size_t kListPieceLimit = 100;
// A third server address longer than this fails the modem section: such a
// line is not an address, and what follows it cannot be trusted either.
constexpr std::size_t kServer3IpLimit = 32;

enum class Found { kNo, kUnterminated, kYes };

struct LabelValue {
    Found found = Found::kNo;
    std::string_view value;
};

// The first occurrence counts, even inside a longer label: a shorter label
// gets its own line only when that line comes first in the report.
LabelValue FindValue(std::string_view text, std::string_view label) {
    const std::size_t at = text.find(label);
    if (at == std::string_view::npos) return {};
    const std::size_t start = at + label.size();
    const std::size_t end = text.find(kLineEnd, start);
    if (end == std::string_view::npos) return {Found::kUnterminated, {}};
    return {Found::kYes, text.substr(start, end - start)};
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Leading blanks, one sign, then digits up to the first non-digit; no digits
// read as 0. Values beyond 32 bits saturate so that a flood of digits can
// neither overflow nor slip under a range check.
std::int32_t ReadDecimal(std::string_view value) {
    std::size_t i = 0;
    while (i < value.size() && IsBlank(value[i])) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
    std::int64_t magnitude = 0;
    constexpr std::int64_t kCap = std::int64_t{INT32_MAX} + 1;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        if (magnitude < kCap) magnitude = magnitude * 10 + (value[i] - '0');
    }
    if (magnitude > kCap) magnitude = kCap;
    const std::int64_t signedValue = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(signedValue > INT32_MAX ? INT32_MAX : signedValue);
}

template <typename Field>
struct AlarmLine {
    std::string_view label;
    Field AlarmSettings::*field;
};

constexpr AlarmLine<std::uint8_t> kPriorities[] = {
    {"Alarm fm priority:  ", &AlarmSettings::fmPriority},
    {"Alarm gprs priority:  ", &AlarmSettings::gprsPriority},
    {"Alarm inter phone priority:  ", &AlarmSettings::interPhonePriority},
    {"Alarm local alarm priority:  ", &AlarmSettings::localAlarmPriority},
    {"Alarm mic priority:  ", &AlarmSettings::micPriority},
    {"Alarm line in priority:  ", &AlarmSettings::lineInPriority},
    {"Alarm mp3 priority:  ", &AlarmSettings::mp3Priority},
    {"Alarm phone priority:  ", &AlarmSettings::phonePriority},
    {"Alarm sms priority:  ", &AlarmSettings::smsPriority},
};
constexpr std::int32_t kHighestPriority = 10;

constexpr AlarmLine<std::int32_t> kPlayCounts[] = {
    {"Alarm sms play number:  ", &AlarmSettings::smsPlayNumber},
    {"Alarm gprs play number:  ", &AlarmSettings::gprsPlayNumber},
    {"Alarm local alarm play number:  ", &AlarmSettings::localAlarmPlayNumber},
};

constexpr AlarmLine<std::string> kTexts[] = {
    {"Alarm text1:  ", &AlarmSettings::text1},
    {"Alarm text2:  ", &AlarmSettings::text2},
    {"Alarm text3:  ", &AlarmSettings::text3},
};

// The optional alarm lines; the SMS receipt flag among them is the one number.
struct OptionalLine {
    std::string_view label;
    std::string AlarmSettings::*text;
    std::uint8_t AlarmSettings::*number;
};

constexpr OptionalLine kOptionalLines[] = {
    {"Alarm mcu work function:  ", &AlarmSettings::mcuWorkFunction, nullptr},
    {"Alarm inter phone open: ", &AlarmSettings::interPhoneOpen, nullptr},
    {"Alarm is sms response:  ", nullptr, &AlarmSettings::smsResponse},
    {"Alarm fm freq:  ", &AlarmSettings::fmFreq, nullptr},
    {"Alarm fm snr:  ", &AlarmSettings::fmSnr, nullptr},
    {"Alarm mp3 play mode:  ", &AlarmSettings::mp3PlayMode, nullptr},
    {"Alarm is sms backup:  ", &AlarmSettings::smsBackup, nullptr},
    {"Alarm is sms state time:  ", &AlarmSettings::smsStateTime, nullptr},
    {"Alarm tts play mode:  ", &AlarmSettings::ttsPlayMode, nullptr},
    {"Alarm fm voice:  ", &AlarmSettings::fmVoice, nullptr},
    {"Alarm fm receive enable:  ", &AlarmSettings::fmReceiveEnable, nullptr},
    {"Alarm mp3 play voice:  ", &AlarmSettings::mp3PlayVoice, nullptr},
    {"Alarm tts play level:  ", &AlarmSettings::ttsPlayLevel, nullptr},
    {"Alarm tts play speed:  ", &AlarmSettings::ttsPlaySpeed, nullptr},
    {"Alarm tts play tone:  ", &AlarmSettings::ttsPlayTone, nullptr},
};

constexpr std::string_view kListLabels[] = {
    "Alarm admin NO:  ", "Alarm authorize NO:  ", "Alarm backup NO:  "};

enum class ModemRule { kPlain, kWorkMode, kActivateMethod, kSerialMode, kSmsCenter, kServer3Ip };

using FieldOf = std::string* (*)(AlarmSettings&);

template <std::string DtuSettings::*Member>
std::string* Dtu(AlarmSettings& record) {
    return &(record.dtu.*Member);
}

std::string* TotalServers(AlarmSettings& record) {
    return &record.totalServers;
}

struct ModemLine {
    std::string_view label;
    FieldOf field;  // null: the line is only checked
    std::size_t dropped = 0;
    ModemRule rule = ModemRule::kPlain;
};

// The order matters: the section stops at the first line that fails, and the
// fields before it keep their new values.
constexpr ModemLine kModemLines[] = {
    {"Access Point Name:", &Dtu<&DtuSettings::apn>},
    {"Center call number", &Dtu<&DtuSettings::centerCallNumber>},
    {"PPP Authentication User Id", &Dtu<&DtuSettings::pppUserId>},
    {"PPP Authentication Password", &Dtu<&DtuSettings::pppPassword>},
    {"Total Servers", &TotalServers},
    {"Server's Ip", &Dtu<&DtuSettings::serverIp>},
    {"Server1's Ip", nullptr},
    {"Server2's Ip", nullptr},
    {"Server3's Ip", nullptr, 0, ModemRule::kServer3Ip},
    {"Server4's Ip", nullptr},
    {"Server's Port", &Dtu<&DtuSettings::serverPort>},
    {"Server1's Port", nullptr},
    {"Server2's Port", nullptr},
    {"Server3's Port", nullptr},
    {"Server4's Port", nullptr},
    {"Secondary Server's Ip", &Dtu<&DtuSettings::secondaryServerIp>},
    {"Secondary Server's Port", &Dtu<&DtuSettings::secondaryServerPort>},
    {"Work Mode:", &Dtu<&DtuSettings::workMode>, 0, ModemRule::kWorkMode},
    {"Activate Method:", &Dtu<&DtuSettings::activateMethod>, 0, ModemRule::kActivateMethod},
    {"Serial port commu mode", &Dtu<&DtuSettings::serialCommMode>, 0, ModemRule::kSerialMode},
    {"Modem's ID number", &Dtu<&DtuSettings::modemId>},
    {"Modem's Phone Number", &Dtu<&DtuSettings::modemPhoneNumber>},
    {"Serial Baudrate", &Dtu<&DtuSettings::serialBaudrate>},
    {"Debug Level", &Dtu<&DtuSettings::debugLevel>},
    {"Deliver Recved Tcp Data Directly", &Dtu<&DtuSettings::deliverTcpDataDirectly>},
    {"Should Return To Main Server", &Dtu<&DtuSettings::returnToMainServer>},
    {"Heartbeat poll time seconds:", &Dtu<&DtuSettings::heartbeatPollTime>, 3},
    {"Dns Server's Ip:", &Dtu<&DtuSettings::dnsServerIp>, 3},
    {"Second Dns Server's Ip:", &Dtu<&DtuSettings::secondDnsServerIp>, 3},
    {"Dns Server1's Ip:", nullptr, 3},
    {"Dns Server2's Ip:", nullptr, 3},
    {"Dns Server3's Ip:", nullptr, 3},
    {"Dns Server4's Ip:", nullptr, 3},
    {"Sms Center :", &Dtu<&DtuSettings::smsCenter>, 2, ModemRule::kSmsCenter},
    {"Tcp act poll time seconds:", nullptr, 3},
    {"Control Phone No.:", &Dtu<&DtuSettings::controlPhoneNumber>, 3},
    {"Sms Daemon Password:", &Dtu<&DtuSettings::smsDaemonPassword>, 3},
    {"Custom Register Info:", &Dtu<&DtuSettings::customRegisterInfo>, 3},
    {"Custom Keep Online Info:", &Dtu<&DtuSettings::customKeepOnlineInfo>, 3},
    {"Bytes Finish Interval(ms):", &Dtu<&DtuSettings::bytesFinishInterval>, 3},
    {"Data Daemon PPP On Password:", &Dtu<&DtuSettings::dataDaemonPppOnPassword>, 3},
    {"Data Daemon PPP Off Password:", &Dtu<&DtuSettings::dataDaemonPppOffPassword>, 3},
    {"Link Fail Retry Times:", &Dtu<&DtuSettings::linkFailRetryTimes>, 3},
    {"Wait Time Between Dial Failures:", &Dtu<&DtuSettings::dialFailWaitTime>, 3},
    {"Max Tcp Frame Len:", nullptr, 3},
    {"Multi Server Reconnect Interval:", nullptr, 3},
};

struct Code {
    std::string_view keyword;
    std::string_view code;
};

// First match wins, so the order is part of the meaning: "TCP TRANSPARENT"
// contains both "TRANSP" and "TCP TRANS" and reads as "TRNS".
constexpr Code kWorkModeCodes[] = {
    {"PROT", "PROT"},   {"TRANSP", "TRNS"},     {"TCP TRANS", "TTRN"},
    {"CLIENT", "TLNT"}, {"LONG", "LONG"},       {"LNGT", "LNGT"},
    {"UDP", "TUDP"},    {"TCP CUSTOM", "TCST"}, {"TCP SERVER", "TCPSVR"},
};

constexpr Code kActivateMethodCodes[] = {
    {"AUTO", "AUTO"}, {"SMS", "SMSD"}, {"CONTROLABLE", "CTRL"}, {"DATA", "DATA"}, {"MIXD", "MIXD"},
};

// A text naming none of the keywords stays as the terminal sent it: the
// operator then sees the unknown mode instead of losing the whole report.
template <std::size_t N>
void ReplaceByCode(std::string& field, const Code (&codes)[N]) {
    for (const Code& entry : codes) {
        if (field.find(entry.keyword) != std::string::npos) {
            field = entry.code;
            return;
        }
    }
}

// The first, third and last character (8,N,1 gives 8N1). A value shorter
// than three characters has no third one and is kept as it is, rather than
// inventing a mode from repeated characters.
void ShortenSerialMode(std::string& field) {
    if (field.size() < 3) return;
    field = std::string{field[0], field[2], field.back()};
}

// The text the terminal shows for "no SMS centre set"; GBK at compile time.
constexpr char kDefaultSmsCenter[] = "默认";

// The report is text and ends at its first NUL byte; bytes after one are
// line noise, not settings, and must not end up inside a field.
std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

}  // namespace

bool ParseNumberList(std::string_view value, int listKind, AlarmSettings& record) {
    NumberList* list = NumberListOf(record, listKind);
    if (list == nullptr) return false;
    if (!value.empty() && value.back() == ',') value.remove_suffix(1);
    for (std::string& entry : *list) entry.clear();

    // Entries longer than the terminal's 32 characters are kept whole, so the
    // operator sees the number the terminal really holds; only pieces of 100
    // or more characters, which no phone number comes near, fail the list.
    std::size_t stored = 0;
    while (stored < list->size()) {
        const std::size_t comma = value.find(',');
        const std::string_view piece = value.substr(0, comma);
        if (comma == std::string_view::npos && piece.empty()) break;
        if (piece.size() >= kListPieceLimit) return false;
        (*list)[stored++] = piece;
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    return true;
}

bool ParseModemSection(std::string_view text, AlarmSettings& record) {
    text = UpToNul(text);
    for (const ModemLine& line : kModemLines) {
        const std::size_t at = text.find(line.label);
        if (at == std::string_view::npos) continue;
        std::size_t start = at + line.label.size();
        const std::size_t end = text.find(kLineEnd, start);
        if (end == std::string_view::npos) return false;
        while (start < end && IsBlank(text[start])) ++start;
        std::string_view value = text.substr(start, end - start).substr(0, kModemValueLimit);
        value.remove_suffix(std::min(line.dropped, value.size()));

        if (line.rule == ModemRule::kServer3Ip && value.size() > kServer3IpLimit) return false;
        if (line.field == nullptr) continue;
        std::string& field = *line.field(record);
        field = value;
        switch (line.rule) {
            case ModemRule::kWorkMode:
                ReplaceByCode(field, kWorkModeCodes);
                break;
            case ModemRule::kActivateMethod:
                ReplaceByCode(field, kActivateMethodCodes);
                break;
            case ModemRule::kSerialMode:
                ShortenSerialMode(field);
                break;
            case ModemRule::kSmsCenter:
                if (field.empty()) field = kDefaultSmsCenter;
                break;
            case ModemRule::kPlain:
            case ModemRule::kServer3Ip:
                break;
        }
    }
    return true;
}

bool ParseSettingsReport(std::string_view text, AlarmSettings& record) {
    text = UpToNul(text);

    // The admin list is emptied even when its line is missing, so a report
    // without it never shows the previous terminal's admins.
    for (std::string& entry : record.adminNumbers) entry.clear();
    for (int kind = 1; kind <= 3; ++kind) {
        const LabelValue line = FindValue(text, kListLabels[kind - 1]);
        if (line.found != Found::kYes) return false;
        // A list that fails keeps what it stored; the report goes on.
        ParseNumberList(line.value, kind, record);
    }

    for (const auto& [label, field] : kPriorities) {
        const LabelValue line = FindValue(text, label);
        if (line.found != Found::kYes) return false;
        const std::int32_t priority = ReadDecimal(line.value);
        if (priority > kHighestPriority) return false;
        record.*field = static_cast<std::uint8_t>(priority);
    }

    for (const auto& [label, field] : kPlayCounts) {
        const LabelValue line = FindValue(text, label);
        if (line.found != Found::kYes) return false;
        record.*field = ReadDecimal(line.value);
    }

    for (const auto& [label, field] : kTexts) {
        const LabelValue line = FindValue(text, label);
        if (line.found != Found::kYes || line.value.size() > kPresetTextLimit) return false;
        record.*field = line.value;
    }

    for (const OptionalLine& optional : kOptionalLines) {
        const LabelValue line = FindValue(text, optional.label);
        if (line.found == Found::kNo) continue;
        if (line.found == Found::kUnterminated) return false;
        if (optional.number != nullptr) {
            record.*optional.number = static_cast<std::uint8_t>(ReadDecimal(line.value));
        } else {
            if (line.value.size() > kAlarmValueLimit) return false;
            record.*optional.text = line.value;
        }
    }

    return ParseModemSection(text, record);
}

}  // namespace pelmora
