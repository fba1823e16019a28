#include "ServerSettingDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace pelmora {

namespace {

QComboBox* EditableList(const QStringList& items, int current, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setEditable(true);
    box->addItems(items);
    box->setCurrentText(QString::number(current));
    return box;
}

// A whole decimal number in [low, high], or -1.
int WholeNumber(const QString& text, int low, int high) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok && value >= low && value <= high ? value : -1;
}

}  // namespace

CServerSetting::CServerSetting(int port, int pollSeconds, int offlineSeconds, QWidget* parent)
    : QDialog(parent), port_(port), poll_(pollSeconds), offline_(offlineSeconds) {
    setWindowTitle(QStringLiteral("服务设置"));
    auto* group = new QGroupBox(QStringLiteral("服务设置"), this);
    auto* form = new QFormLayout(group);
    portBox_ = EditableList({"5001", "5002", "5003"}, port, group);
    pollBox_ = EditableList({"5", "10", "20", "30", "60", "120"}, pollSeconds, group);
    offlineBox_ = EditableList({"60", "120", "240"}, offlineSeconds, group);
    form->addRow(QStringLiteral("服务端口:"), portBox_);
    form->addRow(QStringLiteral("轮循时间:"), pollBox_);
    form->addRow(QStringLiteral("下线时间:"), offlineBox_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CServerSetting::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CServerSetting::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
}

bool CServerSetting::TakeValues() {
    const int port = WholeNumber(portBox_->currentText(), 1, 65535);
    const int poll = WholeNumber(pollBox_->currentText(), 1, 86400);
    const int offline = WholeNumber(offlineBox_->currentText(), 1, 864000);
    QString message;
    if (port < 0) {
        message = QStringLiteral("服务端口必须是1到65535之间的整数");
    } else if (poll < 0) {
        message = QStringLiteral("轮循时间必须是正整数(秒)");
    } else if (offline < 0) {
        message = QStringLiteral("下线时间必须是正整数(秒)");
    }
    if (!message.isEmpty()) {
        emit Refused(message);
        return false;
    }
    port_ = port;
    poll_ = poll;
    offline_ = offline;
    return true;
}

void CServerSetting::accept() {
    if (TakeValues()) QDialog::accept();
}

}  // namespace pelmora
