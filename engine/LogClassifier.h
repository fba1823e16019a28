// What a log line is, read from its text: the kind the log table shows and
// filters by, and the terminal the line names. No Qt; the line is UTF-8 (as
// the window holds it), not the engine's GBK.
//
// The rules follow the lines the program writes (CommandTexts, the pages, the
// window's own lines):
// - 终端消息: what a terminal sent, "%08x:..." (the engine's received lines).
// - 操作: what the operator set going: a job queued ("…请等待...", the old
//   "…清等待..."), a command line sent ("AT+…", "at+…"), drill mode,
//   disconnecting a terminal, the registry's import and export, a record's
//   export or resend, the follow-up settings and cancellations.
// - 结果: how a job ended, for one terminal or a group ("…成功", "…失败",
//   "…超时", the group's member and summary lines, "…已取消"), and a request
//   refused before anything was sent ("注意!…", "设备ID为空…", "上个操作未完成…",
//   the pages' checks).
// - 系统: the program itself: the service started or stopped, descriptors, the
//   log file, the database, the settings, follow-up deliveries. A line no rule
//   knows is 系统 too.
//
// The terminal is the device ID a line names: the hex digits before the ":" of
// a terminal message, else the first "设备" or "终端" followed by exactly eight
// hex digits ("设备0001e240 成功", "参数回读(设备0001e240)已取消",
// "终端0001e240的运维信息已保存"). Every line of the program names terminals so,
// in hex; it is given as the device list shows it, eight lowercase hex digits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelmora {

enum class LogKind : std::uint8_t { Operator, Outcome, TerminalMessage, System };
inline constexpr int kLogKinds = 4;

struct LogLineClass {
    LogKind kind = LogKind::System;
    std::string terminal;  // eight lowercase hex digits, or empty
};

LogLineClass ClassifyLogLine(std::string_view utf8Line);

// "操作", "结果", "终端消息", "系统" (UTF-8).
std::string_view LogKindName(LogKind kind);

}  // namespace pelmora
