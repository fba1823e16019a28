#include "LeftView.h"

#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <QResizeEvent>
#include <QScrollBar>
#include <QTextDocument>
#include "CommandButton.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "CommandEngine.h"
#include "CommandTexts.h"
#include "EngineUi.h"
#include "GbkCodec.h"
#include "LogEvents.h"

namespace pelmora {

namespace {

// The form gives the log box its place in pixels; the buttons above it are
// ours to place, stacked inside their frame.
constexpr int kFrameHeight = 200;
constexpr int kButtonLeft = 30;
constexpr int kButtonWidth = 140;
constexpr int kButtonHeight = 40;
constexpr int kFirstButtonTop = 30;
constexpr int kButtonStep = 55;
constexpr int kLabelTop = 214;
constexpr int kLabelHeight = 22;

bool DefaultConfirm(QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace

CLeftView::CLeftView(IDeviceList& devices, LinkApi link, QWidget* parent)
    : QWidget(parent),
      devices_(devices),
      link_(std::move(link)),
      confirm_([this](const QString& text, const QString& caption) {
          return DefaultConfirm(this, text, caption);
      }),
      buttonFrame_(new QGroupBox(this)),
      dataSendButton_(new CCommandButtom(QStringLiteral("数据发送"), buttonFrame_)),
      controlButton_(new QPushButton(QStringLiteral("远程控制"), buttonFrame_)),
      configButton_(new QPushButton(QStringLiteral("远程配置"), buttonFrame_)),
      logLabel_(new QLabel(QStringLiteral("日志信息"), this)),
      logBox_(new QPlainTextEdit(this)) {
    // The splitter bar next to the pane does not move it.
    setFixedWidth(kPaneWidth);

    dataSendButton_->setObjectName(QStringLiteral("dataSendButton"));
    controlButton_->setObjectName(QStringLiteral("controlButton"));
    configButton_->setObjectName(QStringLiteral("configButton"));
    logBox_->setObjectName(QStringLiteral("logBox"));

    buttonFrame_->setGeometry(0, 0, kPaneWidth, kFrameHeight);
    int top = kFirstButtonTop;
    for (QPushButton* button : {dataSendButton_, controlButton_, configButton_}) {
        button->setGeometry(kButtonLeft, top, kButtonWidth, kButtonHeight);
        top += kButtonStep;
    }
    logLabel_->setGeometry(4, kLabelTop, kPaneWidth - 8, kLabelHeight);

    logBox_->setReadOnly(true);
    logBox_->setLineWrapMode(QPlainTextEdit::NoWrap);
    logBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    logBox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    logBox_->setGeometry(0, kLogTop, kPaneWidth, 0);

    connect(dataSendButton_, &QPushButton::clicked, this,
            [this] { ShowPageIfSelected(Page::DataSend); });
    connect(controlButton_, &QPushButton::clicked, this,
            [this] { ShowPageIfSelected(Page::Control); });
    connect(configButton_, &QPushButton::clicked, this, &CLeftView::CommitConfiguration);
}

void CLeftView::SetConfirm(Confirm confirm) {
    if (confirm) confirm_ = std::move(confirm);
}

bool CLeftView::event(QEvent* e) {
    if (e->type() == kLogLineEvent) {
        // An event of this number without a line is dropped, like a message
        // without its text.
        if (const auto* logLine = dynamic_cast<const LogLineEvent*>(e)) AppendLog(logLine->Text());
        return true;
    }
    return QWidget::event(e);
}

void CLeftView::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    logBox_->setGeometry(0, kLogTop, kPaneWidth, std::max(0, height() - kLogTop));
}

void CLeftView::AppendLog(const QString& line) {
    AppendToBox(line);
    // The failure notice goes to the pane only: writing it to the file that
    // just failed would gain nothing.
    if (const auto failure = audit_.Write(line)) AppendToBox(*failure);
}

void CLeftView::ClearLog() {
    logBox_->clear();
}

QString CLeftView::LogText() const {
    return logBox_->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
}

void CLeftView::AppendLogLines(const QStringList& lines) {
    // One repaint and one scroll for the whole batch; the rule still applies
    // line by line.
    logBox_->setUpdatesEnabled(false);
    for (const QString& line : lines) {
        AppendToBox(line, false);
        if (const auto failure = audit_.Write(line)) AppendToBox(*failure, false);
    }
    QScrollBar* bar = logBox_->verticalScrollBar();
    bar->setValue(bar->maximum());
    logBox_->setUpdatesEnabled(true);
}

void CLeftView::AppendToBox(const QString& line, bool scroll) {
    // The box is the only store of the log. Its blocks stand for lines joined
    // by "\r\n", so its length as text is one more per break than the
    // document counts (and the document counts one character past the end).
    // Any break inside a line counts as "\r\n" too.
    const QTextDocument* document = logBox_->document();
    const qsizetype length = document->characterCount() - 1 + (document->blockCount() - 1);
    // Past the limit once the separator is added, the log restarts.
    if (length == 0 || length + 2 > kLogLimit) {
        logBox_->setPlainText(line);
    } else {
        logBox_->appendPlainText(line);
    }
    if (!scroll) return;
    QScrollBar* bar = logBox_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void CLeftView::LogGbk(const std::string& gbkLine) {
    Say(QString::fromStdString(GbkToUtf8Lossy(gbkLine)));
}

void CLeftView::Say(const QString& line) {
    if (logSink_) {
        logSink_(line);
    } else {
        AppendLog(line);
    }
}

int CLeftView::CheckSelectedDevice() {
    int counted = 0;
    for (int row = 0; row < devices_.RowCount(); ++row) {
        if (!devices_.IsChecked(row)) continue;
        const std::string idText = devices_.IdText(row);
        std::uint32_t id = 0;
        if (!ParseDeviceId(idText, id)) {
            LogGbk(WithText(text::kBadDeviceId, idText));
            return 0;
        }
        if (devices_.OnlineText(row) != text::kOnline) {
            LogGbk(WithText(text::kDeviceOffline, idText));
            return 0;
        }
        ++counted;
    }
    if (counted == 0) {
        LogGbk(text::kNoDeviceChosen);
    } else if (counted > 1) {
        Say(QStringLiteral("提示:仅对所选择的第一个设备进行操作，不能同时操作多台设备"));
    }
    return counted;
}

void CLeftView::ShowPageIfSelected(Page page) {
    if (CheckSelectedDevice() > 0) emit PageRequested(page);
}

void CLeftView::CommitConfiguration() {
    if (CheckSelectedDevice() == 0) return;
    if (!confirm_(QStringLiteral("远程配置参数后，系统将重启以加载新的参数，确认远程配置吗?"),
                  QStringLiteral("YES"))) {
        return;
    }
    emit PageRequested(Page::Configuration);

    // Counted again: the list may have changed while the question was open,
    // and the commit goes to one terminal only.
    int checkedRow = -1;
    int checked = 0;
    for (int row = 0; row < devices_.RowCount(); ++row) {
        if (devices_.IsChecked(row)) {
            ++checked;
            checkedRow = row;
        }
    }
    if (checked != 1) {
        Say(QStringLiteral("请选择一台设备进行配置"));
        return;
    }
    const std::string idText = devices_.IdText(checkedRow);
    std::uint32_t id = 0;
    if (!ParseDeviceId(idText, id)) {
        LogGbk(WithText(text::kBadDeviceId, idText));
        return;
    }
    // The terminal restarts with its new settings; there is no answer to
    // wait for and nothing to log.
    const std::string_view commit = text::kCommitConfig;
    if (link_.sendData) {
        link_.sendData(id, static_cast<std::uint16_t>(commit.size()),
                       reinterpret_cast<const std::uint8_t*>(commit.data()));
    }
}

}  // namespace pelmora
