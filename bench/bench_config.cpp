// The configuration pages' share of the work: filling the settings grid and
// the three number lists from a report with 255 numbers in each list, and a
// save of 50 changed values through the real grid with answers that come at
// once and polls that do not sleep, so what is left is our own overhead.
#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BaseConfig.h"
#include "BenchEngine.h"
#include "CommandEngine.h"
#include "DeviceConfigDlg.h"
#include "GbkCodec.h"
#include "GridFill.h"
#include "ListCtrlEx.h"
#include "SettingsReport.h"

namespace {

using namespace std::chrono_literals;

class OneTerminal final : public pelmora::IDeviceList {
  public:
    int RowCount() const override { return 1; }
    bool IsChecked(int) const override { return true; }
    std::string IdText(int) const override { return "0001e240"; }
    std::string OnlineText(int) const override { return pelmora::Utf8ToGbk("在线").value(); }
    int FindRow(const std::string&) const override { return 0; }
    void SetPowerText(int, const std::string&) override {}
};

double Ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::QuietEvents events;
    OneTerminal devices;
    pelmora::CommandEngine* enginePointer = nullptr;
    std::atomic<int> sent{0};
    pelmora::LinkApi link;
    link.sendData = [&enginePointer, &sent, &devices](std::uint32_t id, std::uint16_t,
                                                      const std::uint8_t*) {
        ++sent;
        const char ok[] = "OK\r\n";
        enginePointer->IntakePacket(id, reinterpret_cast<const std::uint8_t*>(ok), 4, devices);
        return 1;
    };
    pelmora::EngineTiming timing;
    timing.sleep = [](std::chrono::milliseconds) {};
    pelmora::CommandEngine engine(link, events, timing);
    enginePointer = &engine;
    pelmora::CDeviceConfigDlg pages(engine, devices);
    pages.resize(1200, 600);
    pages.show();
    QApplication::processEvents();

    // Fill: the record of a full report.
    pelmora::AlarmSettings full = dovrik::sim::DefaultTerminalSettings();
    for (pelmora::NumberList* list :
         {&full.adminNumbers, &full.authorizeNumbers, &full.backupNumbers}) {
        for (std::size_t i = 0; i < list->size(); ++i)
            (*list)[i] = "139" + std::to_string(10000000 + i);
    }
    {
        auto lock = engine.LockSettings();
        engine.MutableSettings() = full;
    }
    std::vector<double> fillMs;
    for (int round = 0; round < 20; ++round) {
        QElapsedTimer t;
        t.start();
        pages.FillPagesFromSettings();
        fillMs.push_back(Ms(t));
        QApplication::processEvents();
    }
    std::sort(fillMs.begin(), fillMs.end());
    std::printf(
        "fill of the grid and three lists of 255 numbers: median %.2f ms, max %.2f ms (target < 30 "
        "ms)\n",
        fillMs[fillMs.size() / 2], fillMs.back());

    // Save: 50 values differ from the record.
    pelmora::CListCtrlEx* grid = pages.BaseConfig().Grid();
    int changed = 0;
    auto change = [&](int row, int column, const QString& text) {
        grid->SetItemText(row, column, text);
        ++changed;
    };
    for (int row : {1, 2, 3}) change(row, 1, QString("preset text %1").arg(row));
    for (int row = 5; row <= 13; ++row)
        change(row, 1, QString::number(row - 4 == full.phonePriority ? 10 : 1 + (row % 9)));
    for (int row : {15, 16, 17}) change(row, 1, QString::number(row));
    for (int row : {1, 2, 3, 4, 5, 6, 7, 9, 12, 13, 14, 16, 17, 18, 19, 20, 21}) {
        QString text = row == 1    ? "0"
                       : row == 9  ? "2"
                       : row == 12 ? "13700000000"
                       : row == 20 ? "+8613800000000"
                       : row == 21 ? "300"
                                   : QString("v%1").arg(row);
        change(row, 3, text);
    }
    for (int row : {21, 23, 24, 27, 29, 30, 31}) change(row, 1, QString::number(row % 10 + 1));
    for (int row = 0; changed < 50 && row < 5; ++row) change(22, 1, QString::number(90.1 + row));
    auto job = std::make_unique<pelmora::CommandJob>();
    job->kind = static_cast<std::int32_t>(pelmora::CommandKind::SaveSettings);
    job->deviceId = 0x0001E240;
    engine.StartWorker();
    QElapsedTimer saveClock;
    saveClock.start();
    engine.SubmitIfIdle(std::move(job));
    while (!engine.Idle()) QApplication::processEvents(QEventLoop::AllEvents, 1);
    const double saveMs = Ms(saveClock);
    std::printf(
        "save of %d changed values (%d cells edited), answers at once, polls without sleeping: "
        "%.1f ms in all, %.2f ms per value\n",
        sent.load(), changed, saveMs, saveMs / std::max(1, sent.load()));
    return 0;
}
