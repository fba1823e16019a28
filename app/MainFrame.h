// The main window: menu, tool bar, status bar (built in MainFrameActions.cpp)
// and the three panes, and the terminal service it starts and stops; the
// service's refresh and drain, with their timers, sit in ServicePump.
#pragma once

#include <QMainWindow>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "Descriptors.h"
#include "EngineTiming.h"
#include "LinkApi.h"

class QAction;
class QDockWidget;
class QLabel;
class QSplitter;

namespace pelmora {

namespace store {
class Store;
}
namespace dispatch {
class FollowUps;
class RegistryKeeper;
class WarningRecorder;
}  // namespace dispatch
class CMySplitterWnd;
class CDeviceView;
class CGroupJobPanel;
class CLeftView;
class CPelmoraView;
class HistoryView;
class LogRelay;
class DrillMode;
class FleetHealthActions;
class FollowUpActions;
class GatewayActions;
class RegistryActions;
class ServicePump;
class ServiceSettings;
class PagesWorkspace;
class DevicesWorkspace;
class WarningWorkspace;
class Workspaces;
class WindowTitle;

class CMainFrame final : public QMainWindow {
    Q_OBJECT
  public:
    enum Command {
        kStartService = 32773,
        kStopService = 32774,
        kAddDevice = 32776,
        kDeleteDevice = 32778,
        kServiceSettings = 32780,
        kRestartDevice = 32781,
        kGroupRestart = 32790,
        kClearLog = 32782,
        kExit = 57665,
        // Beyond the menu of earlier versions.
        kCancelJobs = 32791,
        kFindDevice = 32792,
    };

    struct Options {
        ServiceSettings* settings = nullptr;  // required
        EngineTiming engineTiming;
        // Seconds since 1970, for the silence test of the refresh.
        std::function<std::int64_t()> now;
        // Open descriptors and their limit, looked at by each refresh; the
        // default asks the system.
        std::function<std::optional<DescriptorUse>()> descriptorUse;
        std::chrono::milliseconds drainInterval{300};
        std::chrono::milliseconds backlogInterval{5};  // while messages keep waiting
        std::chrono::milliseconds drainBudget{20};     // work per drain tick
        std::chrono::milliseconds stopPause{300};
        // Message boxes, replaceable for tests: information, and Yes/No with
        // No as the default button (each question asks before something is
        // sent or cut off).
        std::function<void(const QString& text, const QString& caption)> inform;
        std::function<bool(const QString& text, const QString& caption)> confirm;
        // A warning, restart or upgrade to many terminals: true when the
        // operator typed their number (CountConfirmDialog by default).
        std::function<bool(const QString& text, const QString& caption, std::size_t count)>
            confirmCount;
        // The database of the registry and the record; empty: in memory.
        std::string databasePath;
        // The HTTP interface, with the service: off unless asked for; its
        // port (-1: the settings'; 0: any free one) and inbox folder (empty:
        // none).
        bool gateway = false;
        int gatewayPort = -1;
        std::string inboxFolder;
    };

    explicit CMainFrame(Options options, QWidget* parent = nullptr);
    ~CMainFrame() override;

    static QString Title();

    // The commands.
    void StartService();
    void StopService();
    void OpenSettings();
    void ClearLog();
    // Restarts the first ticked row's terminal, after a confirmation that
    // names it.
    void RestartDevice();
    // Restarts every ticked terminal, after the group confirmation.
    void GroupRestart();
    // Cancels the jobs that wait and the one that runs.
    void CancelJobs();
    // Puts the cursor into the device list's filter.
    void FindDevice();
    store::Store& Store() { return *store_; }
    RegistryActions& Registry() { return *registry_; }
    dispatch::RegistryKeeper& Keeper() { return *keeper_; }
    dispatch::FollowUps& FollowUps() { return *followUps_; }
    // Null unless the options asked for the HTTP interface.
    GatewayActions* Gateway() { return gateway_.get(); }
    // The warning record ("预警记录"), the records workspace.
    HistoryView& History();
    // The device list's row menu: read back, query versions, disconnect.
    void ReadBackRow(const QString& idText);
    void QueryVersionsRow(const QString& idText);
    void DisconnectRow(const QString& idText);

    // The status bar: service and port, terminal counts, the running job,
    // the long-offline counts.
    void UpdateStatus();
    QLabel* ServicePane() const { return statusPane0_; }
    QLabel* JobPane() const { return jobPane_; }
    // The registry's terminals offline longer than the long-offline time.
    QLabel* OfflineAlertPane() const { return alertPane_; }
    QTimer& StatusTimer() { return statusTimer_; }
    // Stores the window's geometry, splitters and column widths (also done
    // when the window goes); they are restored when it is built.
    void SaveWindowState();

    bool Running() const { return running_; }
    // One refresh; one drain tick (true when messages are still waiting).
    void Refresh();
    bool DrainTick();

    QAction* Action(Command command) const;
    CLeftView* LeftView() const { return leftView_; }
    CDeviceView* DeviceView() const { return deviceView_; }
    CPelmoraView* CommandView() const { return commandView_; }
    CGroupJobPanel* GroupPanel() const { return groupPanel_; }
    DrillMode& Drill() { return *drill_; }
    Workspaces& Spaces() { return *workspaces_; }
    WarningWorkspace& Warning() { return *warning_; }
    // The fleet's health: the region tree, the changes, their count in the
    // title; its panel is the devices workspace's left side.
    FleetHealthActions& Health() { return *health_; }
    QDockWidget* GroupDock() const { return groupDock_; }
    QTimer& RefreshTimer();
    QTimer& DrainTimer();
    LogRelay& Log() { return *log_; }

  private:
    static constexpr char kApplicationTitle[] = "Pelmora";

    void BuildMenu();
    // Tells the operator, once, when the database could not be used.
    void ReportStoreProblem();
    void BuildToolBar();
    void BuildStatusBar();
    void BuildPanes();
    void BuildGroupPanel();
    // The workspaces: warning (shown at start), devices, pages, records.
    void BuildWorkspaces();
    void UpdateCommandStates();
    void RestoreWindowState();
    void LogLine(const QString& line);

    Options options_;
    ServiceSettings& settings_;
    std::unique_ptr<store::Store> store_;
    std::unique_ptr<dispatch::FollowUps> followUps_;
    std::unique_ptr<dispatch::WarningRecorder> recorder_;
    std::unique_ptr<dispatch::RegistryKeeper> keeper_;
    std::unique_ptr<RegistryActions> registry_;
    std::unique_ptr<FollowUpActions> followUpActions_;
    std::unique_ptr<GatewayActions> gateway_;  // null unless asked for
    std::unique_ptr<WindowTitle> title_;
    std::unique_ptr<FleetHealthActions> health_;
    DrillMode* drill_ = nullptr;      // a child of the window
    HistoryView* history_ = nullptr;  // a child window
    std::unique_ptr<LogRelay> log_;
    std::unique_ptr<ServicePump> pump_;
    bool running_ = false;
    QTimer statusTimer_;
    PagesWorkspace* pages_ = nullptr;
    WarningWorkspace* warning_ = nullptr;
    DevicesWorkspace* devices_ = nullptr;
    Workspaces* workspaces_ = nullptr;
    CLeftView* leftView_ = nullptr;
    CDeviceView* deviceView_ = nullptr;
    CPelmoraView* commandView_ = nullptr;
    CGroupJobPanel* groupPanel_ = nullptr;
    QDockWidget* groupDock_ = nullptr;
    QLabel* statusPane0_ = nullptr;
    QLabel* statusPane1_ = nullptr;
    QLabel* jobPane_ = nullptr;
    QLabel* alertPane_ = nullptr;
    std::map<int, QAction*> actions_;
};

}  // namespace pelmora
