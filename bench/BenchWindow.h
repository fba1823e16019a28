// The main window of a benchmark: its log files and settings in a temporary
// folder, a free service port, no pause at a stop. Made after the
// QApplication; the window is built from `options`.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>

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

// A 1 ms timer on the window thread: the time between two of its ticks is
// how long the window went without serving its events. Each gap goes to
// `gap` when given; the longest is kept.
class Heartbeat {
  public:
    explicit Heartbeat(std::function<void(double ms)> gap = {}) : gap_(std::move(gap)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const double ms = static_cast<double>(sinceBeat_.nsecsElapsed()) / 1e6;
            sinceBeat_.restart();
            worst_ = std::max(worst_, ms);
            if (gap_) gap_(ms);
        });
        sinceBeat_.start();
        timer_.start(1);
    }
    void Stop() { timer_.stop(); }
    double WorstMs() const { return worst_; }

  private:
    std::function<void(double)> gap_;
    QElapsedTimer sinceBeat_;
    QTimer timer_;
    double worst_ = 0;
};

}  // namespace bench
