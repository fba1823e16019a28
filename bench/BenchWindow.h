// The main window of a benchmark: its log files and settings in a temporary
// folder, a free service port, no pause at a stop. Made after the
// QApplication; the window is built from `options`.
#pragma once

#include <QTemporaryDir>

#include <chrono>

#include "BenchSupport.h"
#include "MainFrame.h"
#include "ServiceSettings.h"

namespace bench {

struct WindowSetup {
    WindowSetup() {
        qputenv("PELMORA_LOG_DIR", dir.filePath("logs").toUtf8());
        settings.Load();
        settings.port = FreePort();
        options.settings = &settings;
        options.stopPause = std::chrono::milliseconds(0);
    }

    QTemporaryDir dir;
    pelmora::ServiceSettings settings{dir.filePath("settings.ini")};
    pelmora::CMainFrame::Options options;
};

}  // namespace bench
