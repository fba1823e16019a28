// What the window says of the command worker: the running job with its time
// so far against its limit, and how many jobs wait.
#pragma once

#include <QString>

#include <chrono>
#include <cstddef>
#include <optional>

#include "CommandEngine.h"

namespace pelmora {

// "参数回读(设备20260001) 已用 12 秒 / 限时 60 秒"; a job that waits for several
// answers gives the limit of each ("每次应答限时 60 秒"), a group job the
// limit of each terminal; "正在取消" once cancelled.
QString RunningJobText(const RunningJob& job, std::chrono::steady_clock::time_point now);

// The status bar's job pane: "空闲", or "正在执行: " and the running job, and
// "另有 N 项等待" when jobs wait.
QString JobPaneText(const std::optional<RunningJob>& running, std::size_t waiting,
                    std::chrono::steady_clock::time_point now);

// The page whose commands make jobs of this kind: 0 the configuration pages,
// 1 the control pages, 2 the data page; empty for the restart, which the
// menu and tool bar queue.
std::optional<int> PageOfKind(CommandKind kind);

}  // namespace pelmora
