#include "PelmoraView.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QThread>

#include "GbkCodec.h"
#include "LogEvents.h"
#include "LogRelay.h"

namespace pelmora {

namespace {

constexpr int kPageWidth = 1200;
constexpr int kPageHeight = 600;

class NoticeEvent final : public QEvent {
public:
    NoticeEvent(QEvent::Type type, ListChangeNotice notice) : QEvent(type), notice(std::move(notice)) {}
    ListChangeNotice notice;
};

QWidget* Placeholder(const QString& title, QWidget* parent) {
    auto* page = new QLabel(title, parent);
    page->setAlignment(Qt::AlignCenter);
    page->setStyleSheet("QLabel { color: #808080; font-size: 18px; }");
    page->setGeometry(0, 0, kPageWidth, kPageHeight);
    return page;
}

}  // namespace

CPelmoraView::CPelmoraView(LogRelay& log, LinkApi link, EngineTiming timing, QWidget* parent)
    : QWidget(parent), log_(log) {
    pages_ = {Placeholder(QStringLiteral("远程配置"), this), Placeholder(QStringLiteral("远程控制"), this),
              Placeholder(QStringLiteral("数据发送"), this)};
    engine_ = std::make_unique<CommandEngine>(std::move(link), *this, std::move(timing));
    engine_->SetPrompt(this);
    ShowPage(Page::Configuration);
}

CPelmoraView::~CPelmoraView() {
    // The worker goes first: it may still be reporting to this view.
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
    visible_ = page;
    for (int i = 0; i < static_cast<int>(pages_.size()); ++i) pages_[i]->setVisible(i == static_cast<int>(page));
}

void CPelmoraView::PostLog(std::string line) { log_.Post(std::move(line)); }

void CPelmoraView::SettingsArrived() { QCoreApplication::postEvent(this, new QEvent(kSettingsArrivedEvent)); }

void CPelmoraView::NumbersAdded(ListChangeNotice notice) {
    QCoreApplication::postEvent(this, new NoticeEvent(kNumbersAddedEvent, std::move(notice)));
}

void CPelmoraView::NumbersDeleted(ListChangeNotice notice) {
    QCoreApplication::postEvent(this, new NoticeEvent(kNumbersDeletedEvent, std::move(notice)));
}

void CPelmoraView::NumberListReset(ListChangeNotice notice) {
    QCoreApplication::postEvent(this, new NoticeEvent(kNumberListResetEvent, std::move(notice)));
}

void CPelmoraView::ShowMessage(const std::string& gbkText) {
    const QString text = QString::fromStdString(GbkToUtf8Lossy(gbkText));
    auto show = [this, text] { QMessageBox::information(this, QStringLiteral("提示"), text); };
    if (QThread::currentThread() == thread()) {
        show();
    } else {
        QMetaObject::invokeMethod(this, show, Qt::BlockingQueuedConnection);
    }
}

bool CPelmoraView::event(QEvent* event) {
    const auto type = event->type();
    if (type == kSettingsArrivedEvent) {
        emit SettingsFilled();
        return true;
    }
    if (type == kNumbersAddedEvent || type == kNumbersDeletedEvent || type == kNumberListResetEvent) {
        const auto* notice = static_cast<NoticeEvent*>(event);
        emit NumberListChanged(static_cast<int>(type), notice->notice.listKind,
                               QString::fromStdString(GbkToUtf8Lossy(notice->notice.commandText)));
        return true;
    }
    return QWidget::event(event);
}

}  // namespace pelmora
