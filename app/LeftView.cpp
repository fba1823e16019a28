#include "LeftView.h"

#include <QGroupBox>
#include <QMessageBox>
#include <QPushButton>

#include "CommandButton.h"

#include <cstdint>
#include <string_view>

#include "CommandEngine.h"
#include "CommandTexts.h"
#include "EngineUi.h"
#include "GbkCodec.h"
#include "LogEvents.h"
#include "LogModel.h"

namespace pelmora {

namespace {

// The buttons are stacked inside their frame.
constexpr int kFrameHeight = 200;
constexpr int kButtonLeft = 30;
constexpr int kButtonWidth = 140;
constexpr int kButtonHeight = 40;
constexpr int kFirstButtonTop = 30;
constexpr int kButtonStep = 55;

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
      log_(new LogModel(this)),
      buttonFrame_(new QGroupBox(this)),
      dataSendButton_(new CCommandButtom(QStringLiteral("数据发送"), buttonFrame_)),
      controlButton_(new QPushButton(QStringLiteral("远程控制"), buttonFrame_)),
      configButton_(new QPushButton(QStringLiteral("远程配置"), buttonFrame_)) {
    // The splitter bar next to the pane does not move it.
    setFixedWidth(kPaneWidth);

    dataSendButton_->setObjectName(QStringLiteral("dataSendButton"));
    controlButton_->setObjectName(QStringLiteral("controlButton"));
    configButton_->setObjectName(QStringLiteral("configButton"));

    buttonFrame_->setGeometry(0, 0, kPaneWidth, kFrameHeight);
    int top = kFirstButtonTop;
    for (QPushButton* button : {dataSendButton_, controlButton_, configButton_}) {
        button->setGeometry(kButtonLeft, top, kButtonWidth, kButtonHeight);
        top += kButtonStep;
    }

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

void CLeftView::AppendLog(const QString& line) {
    AppendLogLines(QStringList{line});
}

void CLeftView::ClearLog() {
    log_->Clear();
}

QString CLeftView::LogText() const {
    return log_->Text();
}

void CLeftView::AppendLogLines(const QStringList& lines) {
    // The whole batch goes into the table at once. A failure notice goes to
    // the table only, after the line that failed: writing it to the file that
    // just failed would gain nothing.
    QStringList shown;
    shown.reserve(lines.size());
    for (const QString& line : lines) {
        shown << line;
        if (const auto failure = audit_.Write(line)) shown << *failure;
    }
    log_->AppendLines(shown);
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
