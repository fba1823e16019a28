#include "GprsDataDlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>
#include "TitleBanner.h"

#include "CommandEngine.h"
#include "ControlJobs.h"
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

ContentMeasure MeasurePlayContent(const QString& text) {
    ContentMeasure measure;
    if (const std::optional<std::string> bytes = PlayContentBytes(text)) {
        measure.bytes = bytes->size();
        measure.pieces = PlayContentPieces(bytes->size());
        return measure;
    }
    for (int at = 0; at < text.size();) {
        const int length = text.at(at).isHighSurrogate() && at + 1 < text.size() ? 2 : 1;
        if (!Utf8ToGbk(text.mid(at, length).toStdString()))
            measure.unsendable.push_back({at, length});
        at += length;
    }
    return measure;
}

QString ContentMeasureText(const ContentMeasure& measure) {
    if (!measure.unsendable.empty())
        return QStringLiteral("有 %1 个字符无法发送(已标红),请修改").arg(measure.unsendable.size());
    return QStringLiteral("共 %1 字节(GBK),分 %2 片发送").arg(measure.bytes).arg(measure.pieces);
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
    auto* contentColumn = new QVBoxLayout;
    count_ = new QLabel(group);
    count_->setObjectName("contentCount");
    contentColumn->addWidget(content_, 1);
    contentColumn->addWidget(count_);
    groupLayout->addLayout(contentColumn, 1);
    groupLayout->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 20, 10);
    layout->addWidget(banner);
    layout->addWidget(group, 1);

    connect(content_, &QPlainTextEdit::textChanged, this, &CGPRSDataDlg::ShowMeasure);
    ShowMeasure();
    connect(send_, &QPushButton::clicked, this, &CGPRSDataDlg::OnSend);
    connect(groupSend_, &QPushButton::clicked, this, &CGPRSDataDlg::OnGroupSend);
}

void ShowContentMeasure(QPlainTextEdit& content, QLabel& count) {
    const ContentMeasure measure = MeasurePlayContent(content.toPlainText());
    count.setText(ContentMeasureText(measure));
    count.setStyleSheet(measure.unsendable.empty() ? QString()
                                                   : QStringLiteral("QLabel { color: #c62828; }"));
    // Marked in the box as they are typed, not only refused at the send.
    QList<QTextEdit::ExtraSelection> marks;
    for (const auto& [start, length] : measure.unsendable) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(content.document());
        mark.cursor.setPosition(start);
        mark.cursor.setPosition(start + length, QTextCursor::KeepAnchor);
        mark.format.setBackground(QColor(255, 170, 170));
        mark.format.setFontUnderline(true);
        marks.push_back(mark);
    }
    content.setExtraSelections(marks);
}

void CGPRSDataDlg::ShowMeasure() {
    ShowContentMeasure(*content_, *count_);
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
