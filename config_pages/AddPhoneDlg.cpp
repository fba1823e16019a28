#include "AddPhoneDlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStringView>
#include <QVBoxLayout>

#include "CommandEngine.h"
#include "CommandTexts.h"
#include "SettingsRecord.h"

namespace pelmora {

namespace {

const char* const kBadCharacters = "输入字符不合法,清重新输入数字或英文逗号格式的字符";
const char* const kNumberTooLong = "电话号码长度太长";

// The add command carries at most 254 characters of numbers.
constexpr qsizetype kTypedLimit = 254;

bool IsNumberCharacter(QChar c) {
    return (c >= u'0' && c <= u'9') || c == u',';
}

}  // namespace

CAddPhoneDlg::CAddPhoneDlg(CommandEngine& engine, QWidget* parent)
    : QDialog(parent), engine_(engine), edit_(new QLineEdit(this)) {
    setWindowTitle(QStringLiteral("号码设置对话框"));
    setModal(true);

    auto* group = new QGroupBox(QStringLiteral("添加号码"), this);
    auto* label = new QLabel(QStringLiteral("号码："), group);
    edit_->setObjectName(QStringLiteral("edit1010"));
    auto* note = new QLabel(QStringLiteral("备注：如果是多个号码请用逗号分开"), group);
    auto* entryRow = new QHBoxLayout;
    entryRow->addWidget(label);
    entryRow->addWidget(edit_, 1);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addLayout(entryRow);
    groupLayout->addWidget(note);

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("button1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("button2"));
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(ok);
    buttonRow->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttonRow);

    connect(ok, &QPushButton::clicked, this, [this] { TryAccept(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CAddPhoneDlg::SetMessageBox(MessageBox messageBox) {
    messageBox_ = std::move(messageBox);
}

bool CAddPhoneDlg::TryAccept() {
    const QString typed = edit_->text();
    for (const QChar c : typed) {
        if (!IsNumberCharacter(c)) {
            Refuse(QString::fromUtf8(kBadCharacters));
            return false;
        }
    }
    QString numbers = typed;
    if (numbers.endsWith(u',')) numbers.chop(1);
    // The limit is on the text as typed, so a dropped trailing comma counts.
    if (typed.size() > kTypedLimit) {
        Refuse(QString::fromUtf8(kNumberTooLong));
        return false;
    }
    // A terminal's number entry holds 32 characters: a longer number is
    // refused before it can reach one.
    for (const QStringView number : QStringView(numbers).split(u',')) {
        if (static_cast<std::size_t>(number.size()) > kNumberEntryLimit) {
            Refuse(QString::fromUtf8(kNumberTooLong));
            return false;
        }
    }
    numbers_ = numbers;
    if (engine_.Busy()) {
        engine_.Log(text::kBusy);
        return false;
    }
    accept();
    return true;
}

void CAddPhoneDlg::Refuse(const QString& text) {
    if (messageBox_) {
        messageBox_(text);
    } else {
        QMessageBox::information(nullptr, QString(), text);
    }
}

}  // namespace pelmora
