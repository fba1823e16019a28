#include "PelmoraView.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QThread>
#include <QVBoxLayout>

#include "DeviceConfigDlg.h"
#include "GbkCodec.h"
#include "GprsDataDlg.h"
#include "GroupLauncher.h"
#include "JobStatus.h"
#include "LogEvents.h"
#include "LogRelay.h"
#include "Mp3Control.h"
#include "SystemControlDlg.h"
#include "TitleBanner.h"
#include "UpgradeControl.h"

namespace pelmora {

namespace {

constexpr int kPageWidth = 1200;
constexpr int kPageHeight = 600;

class NoticeEvent final : public QEvent {
  public:
    NoticeEvent(QEvent::Type type, ListChangeNotice notice)
        : QEvent(type), notice(std::move(notice)) {}
    ListChangeNotice notice;
};

}  // namespace

CPelmoraView::CPelmoraView(LogRelay& log, LinkApi link, IDeviceList& devices, EngineTiming timing,
                           QWidget* parent)
    : QWidget(parent), log_(log) {
    engine_ = std::make_unique<CommandEngine>(std::move(link), *this, std::move(timing));
    engine_->SetPrompt(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    strip_ = new QWidget(this);
    strip_->setObjectName("jobStrip");
    strip_->setAutoFillBackground(true);
    QPalette stripColours = strip_->palette();
    stripColours.setColor(QPalette::Window, QColor(255, 244, 206));
    strip_->setPalette(stripColours);
    auto* stripLayout = new QHBoxLayout(strip_);
    stripLayout->setContentsMargins(8, 2, 8, 2);
    stripLabel_ = new QLabel(strip_);
    stripLabel_->setObjectName("jobStripText");
    stripCancel_ = new QPushButton(QStringLiteral("取消操作"), strip_);
    stripCancel_->setObjectName("jobStripCancel");
    stripCancel_->setAutoDefault(false);
    connect(stripCancel_, &QPushButton::clicked, this, [this] { engine_->CancelJobs(); });
    stripLayout->addWidget(stripLabel_, 1);
    stripLayout->addWidget(stripCancel_);
    // Its room is kept while it is hidden: showing it never moves the page
    // under the mouse.
    QSizePolicy keepRoom = strip_->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    strip_->setSizePolicy(keepRoom);
    strip_->hide();
    layout->addWidget(strip_);
    scroller_ = new QScrollArea(this);
    scroller_->setObjectName("pageScroller");
    scroller_->setFrameShape(QFrame::NoFrame);
    scroller_->setWidgetResizable(false);
    auto* host = new QWidget;
    host->setFixedSize(kPageWidth, kPageHeight);
    scroller_->setWidget(host);
    layout->addWidget(scroller_, 1);
    pinned_ = MakeTitleBanner(QString(), scroller_->viewport());
    pinned_->setObjectName("pinnedBanner");
    pinned_->hide();
    connect(scroller_->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { UpdatePinned(); });
    configPages_ = new CDeviceConfigDlg(*engine_, devices, host);
    controlPages_ = new CSystemControlDlg(*engine_, devices, host);
    dataSendPage_ = new CGPRSDataDlg(*engine_, devices, host);
    engine_->SetVersionView(&controlPages_->Mp3Page());
    engine_->SetUpgradeForm(&controlPages_->UpgradePage());
    launcher_ = std::make_unique<GroupLauncher>(*engine_, devices);
    controlPages_->Mp3Page().SetGroupLauncher(launcher_.get());
    controlPages_->UpgradePage().SetGroupLauncher(launcher_.get());
    dataSendPage_->SetGroupLauncher(launcher_.get());
    pages_ = {configPages_, controlPages_, dataSendPage_};
    for (QWidget* page : pages_) page->setGeometry(0, 0, kPageWidth, kPageHeight);
    ShowPage(Page::Configuration);
}

CPelmoraView::~CPelmoraView() {
    // The worker goes first: it may still be reporting to this view, or
    // waiting for a cell or a message box on this thread, so the window keeps
    // serving events until it has finished.
    engine_->RequestStop();
    QElapsedTimer waited;
    waited.start();
    while (!engine_->Idle() && waited.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    engine_.reset();
}

bool CPelmoraView::InitialUpdate() {
    for (QWidget* page : pages_) page->setGeometry(0, 0, kPageWidth, kPageHeight);
    ShowPage(Page::Configuration);
    if (engine_->StartWorker()) return true;
    QMessageBox::critical(this, QStringLiteral("错误"), QStringLiteral("工作线程启动失败"));
    return false;
}

void CPelmoraView::ShowPage(Page page) {
    if (pages_[0] != nullptr && page != visible_) {
        scrolls_[static_cast<int>(visible_)] = {scroller_->horizontalScrollBar()->value(),
                                                scroller_->verticalScrollBar()->value()};
    }
    visible_ = page;
    for (int i = 0; i < static_cast<int>(pages_.size()); ++i)
        pages_[i]->setVisible(i == static_cast<int>(page));
    const QPoint at = scrolls_[static_cast<int>(page)];
    scroller_->horizontalScrollBar()->setValue(at.x());
    scroller_->verticalScrollBar()->setValue(at.y());
    UpdatePinned();
    if (strip_ != nullptr) ShowJobState(shownJob_, shownWaiting_, std::chrono::steady_clock::now());
}

void CPelmoraView::ShowJobState(const std::optional<RunningJob>& running, std::size_t waiting,
                                std::chrono::steady_clock::time_point now) {
    shownJob_ = running;
    shownWaiting_ = waiting;
    const bool ours = running && PageOfKind(running->kind) == static_cast<int>(visible_);
    if (ours) {
        stripLabel_->setText(JobPaneText(running, waiting, now));
        stripCancel_->setEnabled(!running->cancelling || waiting > 0);
    }
    if (strip_->isHidden() == ours) strip_->setVisible(ours);
}

void CPelmoraView::UpdatePinned() {
    if (pinned_ == nullptr || configPages_ == nullptr) return;
    const bool scrolled = scroller_->verticalScrollBar()->value() > 0;
    if (scrolled) {
        static const QString kTitles[] = {QStringLiteral("远程配置"), QStringLiteral("远程控制"),
                                          QStringLiteral("数据发送")};
        QString text = kTitles[static_cast<int>(visible_)];
        if (visible_ == Page::Configuration)
            text += QStringLiteral("    ") + configPages_->OriginText();
        if (pinned_->text() != text) pinned_->setText(text);
        pinned_->setGeometry(0, 0, scroller_->viewport()->width(), kTitleBannerHeight);
        pinned_->raise();
    }
    if (pinned_->isHidden() == scrolled) pinned_->setVisible(scrolled);
}

void CPelmoraView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    UpdatePinned();
}

void CPelmoraView::PostLog(std::string line) {
    log_.Post(std::move(line));
}

void CPelmoraView::SettingsArrived() {
    QCoreApplication::postEvent(this, new QEvent(kSettingsArrivedEvent));
}

void CPelmoraView::NumbersAdded(ListChangeNotice notice) {
    QCoreApplication::postEvent(this, new NoticeEvent(kNumbersAddedEvent, std::move(notice)));
}

void CPelmoraView::NumbersDeleted(ListChangeNotice notice) {
    QCoreApplication::postEvent(this, new NoticeEvent(kNumbersDeletedEvent, std::move(notice)));
}

void CPelmoraView::NumberListReset(ListChangeNotice notice) {
    QCoreApplication::postEvent(this, new NoticeEvent(kNumberListResetEvent, std::move(notice)));
}

void CPelmoraView::SetInform(std::function<void(const QString&, const QString&)> inform) {
    inform_ = std::move(inform);
    controlPages_->UpgradePage().SetInform(inform_);
    dataSendPage_->SetInform(inform_);
}

void CPelmoraView::ShowMessage(const std::string& gbkText) {
    const QString text = QString::fromStdString(GbkToUtf8Lossy(gbkText));
    auto show = [this, text] {
        if (inform_) {
            inform_(text, QStringLiteral("提示"));
        } else {
            QMessageBox::information(this, QStringLiteral("提示"), text);
        }
    };
    if (QThread::currentThread() == thread()) {
        show();
    } else {
        QMetaObject::invokeMethod(this, show, Qt::BlockingQueuedConnection);
    }
}

bool CPelmoraView::event(QEvent* event) {
    const auto type = event->type();
    if (type == kSettingsArrivedEvent) {
        configPages_->FillPagesFromSettings();
        UpdatePinned();
        return true;
    }
    if (type == kNumbersAddedEvent || type == kNumbersDeletedEvent ||
        type == kNumberListResetEvent) {
        const ListChangeNotice& notice = static_cast<NoticeEvent*>(event)->notice;
        if (type == kNumbersAddedEvent) configPages_->OnNumbersAdded(notice);
        if (type == kNumbersDeletedEvent) configPages_->OnNumbersDeleted(notice);
        if (type == kNumberListResetEvent) configPages_->OnNumbersReset(notice);
        return true;
    }
    return QWidget::event(event);
}

}  // namespace pelmora
