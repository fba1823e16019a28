// The window at work: the status bar and the page strip follow the running
// job and cancel it; the device list's row menu; the window remembers its
// geometry, splitters and column widths; the pages scroll rather than clip,
// each in its own place, with its banner in view.
#include <gtest/gtest.h>

#include "WarningWorkspace.h"
#include "WindowFixture.h"
#include "Workspaces.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>

#include "CmdDataObj.h"
#include "JobStatus.h"

namespace pelmora {
namespace {

using namespace std::chrono_literals;
using testing::Pump;

class OperatorComfortTest : public testing::WindowTest {
  protected:
    // A silent terminal's wait lasts until it is cancelled.
    OperatorComfortTest() { framePolls_ = 1000000; }

    QAction* RowAction(const char* name) {
        QMenu* menu = frame_->DeviceView()->RowMenu(0);
        EXPECT_NE(menu, nullptr);
        menu->deleteLater();
        return menu == nullptr ? nullptr : menu->findChild<QAction*>(name);
    }
};

TEST_F(OperatorComfortTest, StatusBarAndPageStripFollowTheJobAndCancelEndsIt) {
    dovrik::sim::TerminalScript script;
    script.frameResults[kVersionRequest] = std::nullopt;  // never answers
    Connect(script);
    frame_->UpdateStatus();
    EXPECT_EQ(frame_->ServicePane()->text(),
              QStringLiteral("服务运行中, 端口 %1 | 在线 1, 离线 0, 备电 0").arg(settings_->port));
    EXPECT_EQ(frame_->JobPane()->text(), QStringLiteral("空闲"));
    EXPECT_FALSE(frame_->Action(CMainFrame::kCancelJobs)->isEnabled());

    // The row menu's version query shows the page it belongs to.
    RowAction("queryVersionsRow")->trigger();
    CommandEngine& engine = frame_->CommandView()->Engine();
    ASSERT_TRUE(Pump([&] { return engine.Running().has_value(); }));
    frame_->UpdateStatus();
    EXPECT_TRUE(frame_->JobPane()->text().startsWith(
        QStringLiteral("正在执行: 版本查询(设备0001e240) 已用 ")));
    EXPECT_TRUE(frame_->JobPane()->text().endsWith(QStringLiteral(" / 限时 5000 秒")));
    EXPECT_TRUE(frame_->Action(CMainFrame::kCancelJobs)->isEnabled());
    CPelmoraView& view = *frame_->CommandView();
    EXPECT_EQ(view.VisiblePage(), CPelmoraView::Page::Control);
    EXPECT_FALSE(view.JobStrip()->isHidden());
    EXPECT_EQ(view.JobStripLabel()->text(), frame_->JobPane()->text());
    const int pageTop = view.PageScroller()->y();
    view.ShowPage(CPelmoraView::Page::Configuration);  // not the page that queued it
    EXPECT_TRUE(view.JobStrip()->isHidden());
    QCoreApplication::processEvents();
    EXPECT_EQ(view.PageScroller()->y(), pageTop) << "the strip never moves the page";
    view.ShowPage(CPelmoraView::Page::Control);
    EXPECT_FALSE(view.JobStrip()->isHidden());

    ASSERT_TRUE(Pump([&] { return sim_->Messages(0).size() == 1; }));  // the query is out
    view.JobStripCancel()->click();
    WaitIdle();
    frame_->UpdateStatus();
    EXPECT_EQ(frame_->JobPane()->text(), QStringLiteral("空闲"));
    EXPECT_TRUE(view.JobStrip()->isHidden());
    // The query went out unanswered: the line says so.
    EXPECT_TRUE(Log().trimmed().endsWith(
        QStringLiteral("读取版本失败\r\n版本查询(设备0001e240): 已发送未确认")))
        << Log().right(200).toStdString();
}

TEST_F(OperatorComfortTest, RowMenuCopiesReadsBackDisconnectsAndRemovesTheOfflineRow) {
    Connect();
    frame_->DeviceView()->List()->SetChecked(0, false);  // the menu's row, not the ticks
    RowAction("copyDeviceId")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("0001e240"));
    EXPECT_FALSE(RowAction("removeOfflineRow")->isEnabled());  // it is online

    RowAction("readBackRow")->trigger();
    WaitIdle();
    EXPECT_TRUE(frame_->CommandView()->Engine().PagesHold(kTerminal));
    EXPECT_EQ(frame_->CommandView()->VisiblePage(), CPelmoraView::Page::Configuration);

    RowAction("disconnectRow")->trigger();
    EXPECT_TRUE(Log().contains(QStringLiteral("已断开设备0001e240的连接")));
    ASSERT_TRUE(Pump([] { return DSGetModemCount() == 0; }));
    frame_->Refresh();
    EXPECT_EQ(frame_->DeviceView()->OnlineText(0), "\xc0\xeb\xcf\xdf");  // "离线" in GBK
    EXPECT_FALSE(RowAction("readBackRow")->isEnabled());
    RowAction("removeOfflineRow")->trigger();
    EXPECT_EQ(frame_->DeviceView()->RowCount(), 0);
    EXPECT_EQ(frame_->DeviceView()->RowCounts(), CDeviceView::Counts{});
}

TEST_F(OperatorComfortTest, WindowRemembersItselfAndThePagesScrollRatherThanClip) {
    frame_->show();
    frame_->resize(1366, 768);
    frame_->Spaces().Show(Workspaces::kPages);
    QSplitter* inner = qobject_cast<QSplitter*>(frame_->CommandView()->parentWidget());
    ASSERT_NE(inner, nullptr);
    inner->setSizes({320, 300});
    QHeaderView* columns = frame_->DeviceView()->List()->header();
    columns->resizeSection(3, 211);
    frame_->Warning().Splitter()->setSizes({600, 766});
    QCoreApplication::processEvents();
    const QList<int> sizes = inner->sizes();
    const QList<int> warningSizes = frame_->Warning().Splitter()->sizes();

    // The pages keep their size and scroll inside the smaller pane.
    QScrollArea* scroller = frame_->CommandView()->PageScroller();
    EXPECT_EQ(scroller->widget()->size(), QSize(1200, 600));
    EXPECT_GT(scroller->verticalScrollBar()->maximum(), 0);
    CPelmoraView& view = *frame_->CommandView();
    EXPECT_TRUE(view.PinnedBanner()->isHidden());
    scroller->verticalScrollBar()->setValue(scroller->verticalScrollBar()->maximum());
    EXPECT_EQ(scroller->widget()->geometry().bottom() + 1, scroller->viewport()->height());
    // Scrolled down, the page's banner stays in view, naming whose settings
    // these are; each page keeps its own place and first opens at its top.
    EXPECT_FALSE(view.PinnedBanner()->isHidden());
    EXPECT_TRUE(view.PinnedBanner()->text().startsWith(QStringLiteral("远程配置")));
    EXPECT_TRUE(view.PinnedBanner()->text().contains(QStringLiteral("尚未回读任何设备的参数")));
    const int scrolled = scroller->verticalScrollBar()->value();
    view.ShowPage(CPelmoraView::Page::DataSend);
    EXPECT_EQ(scroller->verticalScrollBar()->value(), 0);
    EXPECT_TRUE(view.PinnedBanner()->isHidden());
    view.ShowPage(CPelmoraView::Page::Configuration);
    EXPECT_EQ(scroller->verticalScrollBar()->value(), scrolled);

    frame_.reset();
    DSStopService();
    CMainFrame::Options options;
    options.settings = settings_.get();
    options.inform = [](const QString&, const QString&) {};
    frame_ = std::make_unique<CMainFrame>(options);
    frame_->show();
    frame_->Spaces().Show(Workspaces::kPages);
    QCoreApplication::processEvents();
    EXPECT_EQ(frame_->size(), QSize(1366, 768));
    inner = qobject_cast<QSplitter*>(frame_->CommandView()->parentWidget());
    EXPECT_EQ(inner->sizes(), sizes);
    EXPECT_EQ(frame_->Warning().Splitter()->sizes(), warningSizes);
    EXPECT_EQ(frame_->DeviceView()->List()->header()->sectionSize(3), 211);
}

TEST(JobStatus, TimeIsToldAgainstTheLimitOfWhatTheJobWaitsFor) {
    const auto start = std::chrono::steady_clock::time_point(100s);
    RunningJob job;
    job.kind = CommandKind::ReadSettings;
    job.deviceId = 0x20260001;
    job.started = start;
    job.answerLimit = 60s;
    EXPECT_EQ(JobPaneText(job, 0, start + 12500ms),
              QStringLiteral("正在执行: 参数回读(设备20260001) 已用 12 秒 / 限时 60 秒"));
    job.kind = CommandKind::SaveSettings;
    job.severalAnswers = true;
    job.cancelling = true;
    EXPECT_EQ(JobPaneText(job, 2, start + 70s),
              QStringLiteral("正在执行: 保存设置(设备20260001) 已用 70 秒 (每次应答限时 60 秒), "
                             "正在取消, 另有 2 项等待"));
    job = {};
    job.kind = CommandKind::SendPlayContent;
    job.groupTerminals = 300;
    job.started = start;
    job.answerLimit = 60s;
    EXPECT_EQ(RunningJobText(job, start - 1s),  // a clock read before the start
              QStringLiteral("群发播放内容(共300台设备) 已用 0 秒 (每台限时 60 秒)"));
    EXPECT_EQ(JobPaneText(std::nullopt, 1, start), QStringLiteral("空闲, 另有 1 项等待"));
    EXPECT_EQ(PageOfKind(CommandKind::DeleteBackupNumbers), 0);
    EXPECT_EQ(PageOfKind(CommandKind::SendUpgradeParams), 1);
    EXPECT_EQ(PageOfKind(CommandKind::SendPlayContent), 2);
    EXPECT_EQ(PageOfKind(CommandKind::RestartDevice), std::nullopt);
}

}  // namespace
}  // namespace pelmora
