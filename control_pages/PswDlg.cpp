#include "PswDlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pelmora {

bool IsUpgradePassword(const QString& entered) {
    return entered.toUtf8() == QByteArrayLiteral("tarnpiked");
}

CPSWDlg::CPSWDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("密码"));
    auto* group = new QGroupBox(QStringLiteral("密码对话框"), this);
    edit_ = new QLineEdit(group);
    edit_->setObjectName("1010");
    edit_->setEchoMode(QLineEdit::Password);
    auto* groupLayout = new QHBoxLayout(group);
    groupLayout->addWidget(new QLabel(QStringLiteral("请输入密码:"), group));
    groupLayout->addWidget(edit_);

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &CPSWDlg::OnOk);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CPSWDlg::OnOk() {
    password_ = edit_->text();
    accept();
}

}  // namespace pelmora
