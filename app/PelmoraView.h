// The lower right pane: it owns the command engine and shows one of the three
// command pages at a time. It is the engine's window: results come back
// here as posted events and are handed on.
#pragma once

#include <QWidget>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QScrollArea;

#include "CommandEngine.h"
#include "EngineUi.h"

namespace pelmora {

class CDeviceConfigDlg;
class GroupLauncher;
class CGPRSDataDlg;
class CSystemControlDlg;
class LogRelay;

class CPelmoraView final : public QWidget, public IEngineEvents, public IPrompt {
    Q_OBJECT
  public:
    enum class Page { Configuration = 0, Control = 1, DataSend = 2 };

    CPelmoraView(LogRelay& log, LinkApi link, IDeviceList& devices, EngineTiming timing = {},
                 QWidget* parent = nullptr);
    ~CPelmoraView() override;

    // Starts the command worker; false (after telling the operator) if it cannot.
    bool InitialUpdate();
    void ShowPage(Page page);
    // The strip above the pages shows the running job while it is one the
    // visible page queued, with a button that cancels it and what waits.
    void ShowJobState(const std::optional<RunningJob>& running, std::size_t waiting,
                      std::chrono::steady_clock::time_point now);
    QWidget* JobStrip() const { return strip_; }
    QLabel* JobStripLabel() const { return stripLabel_; }
    QPushButton* JobStripCancel() const { return stripCancel_; }
    // The pages keep their size and scroll when the pane is smaller.
    QScrollArea* PageScroller() const { return scroller_; }
    Page VisiblePage() const { return visible_; }
    // The visible page's title banner, pinned above it while the page is
    // scrolled down so that its own banner is out of view.
    QLabel* PinnedBanner() const { return pinned_; }
    QWidget* PageWidget(Page page) const { return pages_[static_cast<int>(page)]; }
    CommandEngine& Engine() { return *engine_; }
    CDeviceConfigDlg& ConfigPages() const { return *configPages_; }
    CSystemControlDlg& ControlPages() const { return *controlPages_; }
    CGPRSDataDlg& DataSendPage() const { return *dataSendPage_; }
    // Starts group jobs for the pages' group actions.
    GroupLauncher& Launcher() const { return *launcher_; }

    // IEngineEvents: from the worker or the window thread.
    void PostLog(std::string line) override;
    void SettingsArrived() override;
    void NumbersAdded(ListChangeNotice notice) override;
    void NumbersDeleted(ListChangeNotice notice) override;
    void NumberListReset(ListChangeNotice notice) override;

    // IPrompt: shown on the window thread; the worker waits for the operator.
    void ShowMessage(const std::string& gbkText) override;
    // How the message box is shown (text, caption), here and on the pages
    // that tell the operator something; replaceable for tests.
    void SetInform(std::function<void(const QString& text, const QString& caption)> inform);

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void UpdatePinned();

    LogRelay& log_;
    std::array<QWidget*, 3> pages_{};
    QWidget* strip_ = nullptr;
    QLabel* stripLabel_ = nullptr;
    QPushButton* stripCancel_ = nullptr;
    QScrollArea* scroller_ = nullptr;
    QLabel* pinned_ = nullptr;
    // Each page's own scroll position; a page first opens at its top.
    std::array<QPoint, 3> scrolls_{};
    std::optional<RunningJob> shownJob_;
    std::size_t shownWaiting_ = 0;
    Page visible_ = Page::Configuration;
    std::unique_ptr<CommandEngine> engine_;
    std::unique_ptr<GroupLauncher> launcher_;
    CDeviceConfigDlg* configPages_ = nullptr;
    CSystemControlDlg* controlPages_ = nullptr;
    CGPRSDataDlg* dataSendPage_ = nullptr;
    std::function<void(const QString&, const QString&)> inform_;  // window thread
};

}  // namespace pelmora
