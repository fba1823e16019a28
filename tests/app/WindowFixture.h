// The running window with short engine timings, its message boxes answered
// by the test, and (on request) the service with one stateful simulated
// terminal listed and ticked.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "DeviceView.h"
#include "Dovrik.h"
#include "LeftView.h"
#include "LogRelay.h"
#include "LoopbackPort.h"
#include "MainFrame.h"
#include "PelmoraView.h"
#include "DeviceTable.h"
#include "ServiceSettings.h"
#include "TerminalSimulator.h"

namespace pelmora::testing {

// Runs the window's events until the condition holds.
inline bool Pump(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class WindowTest : public ::testing::Test {
  protected:
    static constexpr std::uint32_t kTerminal = 0x0001E240;

    void SetUp() override {
        qputenv("PELMORA_LOG_DIR", dir_.filePath("logs").toUtf8());
        settings_ = std::make_unique<ServiceSettings>(dir_.filePath("settings.ini"));
        settings_->Load();
        settings_->port = testsupport::FreePort();
        MakeFrame();
    }
    // The window anew, on the database file when one is given (in memory
    // otherwise), as a restart of the program would make it.
    void MakeFrame(const QString& databasePath = {}) {
        using namespace std::chrono_literals;
        frame_.reset();
        CMainFrame::Options options;
        options.databasePath = databasePath.toStdString();
        options.settings = settings_.get();
        options.stopPause = 0ms;
        options.drainInterval = 10ms;
        options.engineTiming.textPollInterval = 10ms;
        options.engineTiming.framePollInterval = 5ms;
        options.engineTiming.framePolls = framePolls_;
        options.engineTiming.intercomPause = 1ms;
        options.inform = [this](const QString& text, const QString& caption) {
            informed_ << text;
            captions_ << caption;
        };
        options.confirm = [](const QString&, const QString&) { return true; };
        options.gateway = gateway_;
        options.gatewayPort = 0;
        options.inboxFolder = dir_.filePath("inbox").toStdString();
        options.confirmCount = [this](const QString& text, const QString&, std::size_t count) {
            counted_ << QStringLiteral("%1: %2").arg(count).arg(text);
            return typedCountAnswer_;
        };
        frame_ = std::make_unique<CMainFrame>(options);
    }
    void TearDown() override {
        sim_.reset();
        frame_.reset();
        DSStopService();
    }

    // The simulator, on the service's port.
    void StartSimulator() {
        dovrik::sim::TerminalSimulator::Options options;
        options.port = static_cast<std::uint16_t>(settings_->port);
        sim_ = std::make_unique<dovrik::sim::TerminalSimulator>(options);
    }
    // A stateful terminal with this ID, connecting; its simulator index.
    std::size_t AddTerminal(std::uint32_t deviceId, dovrik::sim::TerminalScript script = {}) {
        dovrik::sim::TerminalSpec setup;
        setup.deviceId = deviceId;
        const std::size_t index = sim_->Add(setup);
        sim_->MakeStateful(index, std::move(script));
        return index;
    }

    void Connect(dovrik::sim::TerminalScript script = {}) {
        frame_->StartService();
        StartSimulator();
        AddTerminal(kTerminal, std::move(script));
        ASSERT_TRUE(Pump([] { return DSGetModemCount() == 1; }));
        frame_->Refresh();
        ASSERT_EQ(frame_->DeviceView()->RowCount(), 1);
        frame_->DeviceView()->List()->SetChecked(0, true);
    }
    void WaitIdle() {
        ASSERT_TRUE(Pump([&] { return frame_->CommandView()->Engine().Idle(); }));
        QCoreApplication::processEvents();
    }
    QString Log() {
        frame_->Log().Flush();
        return frame_->LeftView()->LogText();
    }

    int framePolls_ = 200;  // a silent terminal: one second
    bool gateway_ = false;  // the HTTP interface, on any free port
    QTemporaryDir dir_;
    std::unique_ptr<ServiceSettings> settings_;
    std::unique_ptr<CMainFrame> frame_;
    std::unique_ptr<dovrik::sim::TerminalSimulator> sim_;
    QStringList informed_;
    QStringList counted_;  // the questions that asked for the number typed
    bool typedCountAnswer_ = true;
    QStringList captions_;
};

}  // namespace pelmora::testing
