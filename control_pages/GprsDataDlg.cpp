#include "GprsDataDlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include "TitleBanner.h"

#include "CommandEngine.h"
#include "GbkCodec.h"
#include "GroupLauncher.h"

namespace pelmora {

std::optional<std::string> PlayContentBytes(const QString& text) {
    // Terminals have always been sent line breaks as CR LF.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return Utf8ToGbk(lines.toStdString());
}

CGPRSDataDlg::CGPRSDataDlg(CommandEngine& engine, const IDeviceList& devices, QWidget* parent)
    : QWidget(parent), engine_(engine), devices_(devices) {
    QLabel* banner = MakeTitleBanner(QStringLiteral("数据发送"), this);

    auto* group = new QGroupBox(QStringLiteral("发送内容"), this);
    content_ = new QPlainTextEdit(group);
    content_->setObjectName("1010");
    content_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    send_ = new QPushButton(QStringLiteral("发送"), group);
    send_->setObjectName("1002");
    groupSend_ = new QPushButton(QStringLiteral("群发"), group);
    groupSend_->setObjectName("groupSend");
    auto* buttons = new QVBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(send_);
    buttons->addWidget(groupSend_);
    auto* groupLayout = new QHBoxLayout(group);
    groupLayout->addWidget(new QLabel(QStringLiteral("播放内容:"), group), 0, Qt::AlignTop);
    groupLayout->addWidget(content_, 1);
    groupLayout->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 20, 10);
    layout->addWidget(banner);
    layout->addWidget(group, 1);

    connect(send_, &QPushButton::clicked, this, &CGPRSDataDlg::OnSend);
    connect(groupSend_, &QPushButton::clicked, this, &CGPRSDataDlg::OnGroupSend);
}

std::optional<std::string> CGPRSDataDlg::ContentOrTell() {
    std::optional<std::string> bytes = PlayContentBytes(content_->toPlainText());
    if (!bytes) {
        const QString text = QStringLiteral("播放内容含有无法发送的字符,请修改");
        if (inform_) {
            inform_(text, QStringLiteral("提示"));
        } else {
            QMessageBox::information(this, QStringLiteral("提示"), text);
        }
    }
    return bytes;
}

void CGPRSDataDlg::OnSend() {
    std::optional<std::string> bytes = ContentOrTell();
    if (!bytes) return;
    engine_.SubmitPageCommand(devices_, CommandKind::SendPlayContent, std::move(*bytes));
}

void CGPRSDataDlg::OnGroupSend() {
    if (launcher_ == nullptr) return;
    std::optional<std::string> bytes = ContentOrTell();
    if (!bytes) return;
    launcher_->Launch(CommandKind::SendPlayContent, std::move(*bytes));
}

}  // namespace pelmora
