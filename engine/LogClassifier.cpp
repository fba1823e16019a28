#include "LogClassifier.h"

#include <array>

namespace pelmora {

namespace {

// This library's plain literals are compiled to GBK (see CMakeLists.txt); the
// lines here are UTF-8, and so are u8 literals whatever the execution charset.
using Text = std::u8string_view;

std::string_view Bytes(Text text) {
    return {reinterpret_cast<const char*>(text.data()), text.size()};
}

bool StartsWith(std::string_view line, Text prefix) {
    return line.starts_with(Bytes(prefix));
}

bool EndsWith(std::string_view line, Text suffix) {
    return line.ends_with(Bytes(suffix));
}

bool Contains(std::string_view line, Text part) {
    return line.find(Bytes(part)) != std::string_view::npos;
}

template <std::size_t N>
bool StartsWithAny(std::string_view line, const std::array<Text, N>& prefixes) {
    for (const Text prefix : prefixes) {
        if (StartsWith(line, prefix)) return true;
    }
    return false;
}

template <std::size_t N>
bool ContainsAny(std::string_view line, const std::array<Text, N>& parts) {
    for (const Text part : parts) {
        if (Contains(line, part)) return true;
    }
    return false;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Eight hex digits at `at`, with no letter or digit right after them: the
// device ID in lowercase, else empty.
std::string DeviceIdAt(std::string_view line, std::size_t at) {
    constexpr std::size_t kDigits = 8;
    if (line.size() < at + kDigits) return {};
    for (std::size_t i = at; i < at + kDigits; ++i) {
        if (!IsHexDigit(line[i])) return {};
    }
    if (line.size() > at + kDigits && IsAsciiAlnum(line[at + kDigits])) return {};
    std::string id(line.substr(at, kDigits));
    for (char& c : id) c = Lower(c);
    return id;
}

// The first "设备" or "终端" followed by a device ID; "设备ID 0001e240" (the
// registry's import) counts too.
std::string NamedTerminal(std::string_view line) {
    const std::string_view device = Bytes(u8"设备");
    const std::string_view terminal = Bytes(u8"终端");
    for (std::size_t at = 0; at < line.size(); ++at) {
        std::size_t after = 0;
        if (line.compare(at, device.size(), device) == 0) {
            after = at + device.size();
        } else if (line.compare(at, terminal.size(), terminal) == 0) {
            after = at + terminal.size();
        } else {
            continue;
        }
        if (line.compare(after, 2, "ID") == 0) after += 2;
        if (after < line.size() && line[after] == ' ') ++after;
        if (std::string id = DeviceIdAt(line, after); !id.empty()) return id;
    }
    return {};
}

// The window's and the service's own lines, before the words of outcomes that
// some of them hold ("停止数据中心服务成功!").
constexpr std::array<Text, 6> kSystemStarts = {
    u8"服务启动",          // "服务启动,侦听端口为5001"
    u8"停止数据中心服务",  // "停止数据中心服务成功!"
    u8"启动接收线程失败",  // "启动接收线程失败,关闭数据中心服务"
    u8"日志文件写入失败",  // the audit file
    u8"设置中保存的",      // the settings file's notices
    u8"补发预警记录",      // a follow-up the program sends by itself
};
constexpr std::array<Text, 2> kSystemParts = {
    u8"连接描述符",  // "注意!可用的连接描述符已用尽…", "连接描述符已恢复…"
    u8"预警记录数据库",  // "注意!预警记录数据库已损坏…", "…无法使用…"
};

constexpr std::array<Text, 2> kQueuedEnds = {u8"请等待...", u8"清等待..."};
constexpr std::array<Text, 8> kOperatorStarts = {
    u8"进入演练模式",         u8"退出演练模式", u8"已断开设备",     u8"导入终端登记: 已导入",
    u8"导入终端登记: 已放弃", u8"重发预警记录", u8"已取消预警记录", u8"预警设置:",
};
constexpr std::array<Text, 2> kOperatorParts = {
    u8"已导出到",          // the registry, a record, a group's outcomes
    u8"的运维信息已保存",  // "终端0001e240的运维信息已保存"
};

// "注意!" starts every warning about a request or a send; the import's
// problems are the rows it refused.
constexpr std::array<Text, 2> kOutcomeStarts = {u8"注意!", u8"导入终端登记:"};
constexpr std::array<Text, 26> kOutcomeParts = {
    // How jobs end: the lines of JobTexts, ListTexts and SettingCommand, the
    // group's outcome words and summary, the cancel lines.
    u8"成功", u8"失败", u8"超时", u8"完毕", u8"已取消", u8"拒绝", u8"离线", u8"连接中断",
    u8"未确认", u8"已停止", u8"不完整", u8"重复",
    // Requests refused before anything was sent.
    u8"错误", u8"未发送", u8"不进行发送", u8"无法", u8"过长", u8"太长", u8"必须", u8"范围",
    u8"只能", u8"为空", u8"请选择", u8"请稍后再试", u8"不能", u8"请先"};

bool IsCommandLine(std::string_view line) {
    return line.size() >= 3 && Lower(line[0]) == 'a' && Lower(line[1]) == 't' && line[2] == '+';
}

LogKind KindOf(std::string_view line) {
    std::string_view trimmed = line;
    while (!trimmed.empty() && (trimmed.back() == '\r' || trimmed.back() == '\n'))
        trimmed.remove_suffix(1);
    if (StartsWithAny(trimmed, kSystemStarts) || ContainsAny(trimmed, kSystemParts))
        return LogKind::System;
    for (const Text end : kQueuedEnds) {
        if (EndsWith(trimmed, end)) return LogKind::Operator;
    }
    if (IsCommandLine(trimmed) || StartsWithAny(trimmed, kOperatorStarts) ||
        ContainsAny(trimmed, kOperatorParts))
        return LogKind::Operator;
    if (StartsWithAny(trimmed, kOutcomeStarts) || ContainsAny(trimmed, kOutcomeParts))
        return LogKind::Outcome;
    return LogKind::System;
}

}  // namespace

LogLineClass ClassifyLogLine(std::string_view line) {
    LogLineClass result;
    // "%08x:" and what the terminal sent.
    if (line.size() > 8 && line[8] == ':') {
        result.terminal = DeviceIdAt(line.substr(0, 8), 0);
        if (!result.terminal.empty()) {
            result.kind = LogKind::TerminalMessage;
            return result;
        }
    }
    result.kind = KindOf(line);
    result.terminal = NamedTerminal(line);
    return result;
}

std::string_view LogKindName(LogKind kind) {
    switch (kind) {
        case LogKind::Operator:
            return Bytes(u8"操作");
        case LogKind::Outcome:
            return Bytes(u8"结果");
        case LogKind::TerminalMessage:
            return Bytes(u8"终端消息");
        case LogKind::System:
            break;
    }
    return Bytes(u8"系统");
}

}  // namespace pelmora
