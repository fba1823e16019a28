#include "UpgradeControl.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStringList>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "CommandEngine.h"
#include "GbkCodec.h"
#include "GroupLauncher.h"
#include "PswDlg.h"

namespace pelmora {

namespace {

constexpr std::size_t kVersionField = 40;

bool IsDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Dotted decimal, four parts of 0-255 without leading zeros.
bool IsIpv4Address(const std::string& text) {
    int parts = 0;
    std::size_t at = 0;
    while (true) {
        const std::size_t dot = text.find('.', at);
        const std::string part = text.substr(at, dot == std::string::npos ? dot : dot - at);
        if (!IsDigits(part) || part.size() > 3 || (part.size() > 1 && part[0] == '0') ||
            std::stoi(part) > 255) {
            return false;
        }
        ++parts;
        if (dot == std::string::npos) break;
        at = dot + 1;
    }
    return parts == 4;
}

bool IsPort(const std::string& text) {
    if (!IsDigits(text) || text.size() > 5) return false;
    const int port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

QComboBox* MakeList(const QStringList& entries, const char* id, QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setObjectName(id);
    list->addItems(entries);
    list->setCurrentIndex(-1);
    return list;
}

}  // namespace

QString UpgradeFormProblem(const UpgradeForm& form) {
    const std::pair<int, const char*> lists[] = {
        {form.fileFormat, "文件格式"},    {form.downloadTime, "下载时间"},
        {form.parameterMode, "参数模式"}, {form.downloadContent, "下载内容"},
        {form.protocol, "协议模式"},
    };
    for (const auto& [index, label] : lists) {
        if (index < 0) return QStringLiteral("请选择%1!").arg(QString::fromUtf8(label));
    }
    if (!IsDigits(form.answerFrames)) return QStringLiteral("请选择应答帧数!");
    if (!IsIpv4Address(form.serverAddress))
        return QStringLiteral("升级服务器IP不是有效的IPv4地址!");
    if (!IsPort(form.serverPort)) return QStringLiteral("升级服务器端口应为1到65535的数字!");
    if (form.version.empty()) return QStringLiteral("版本号不能为空!");
    if (form.version.size() > kVersionField)
        return QStringLiteral("版本号不能超过40个字节(一个汉字占2个字节)!");
    return {};
}

CUpgradeControl::CUpgradeControl(CommandEngine& engine, const IDeviceList& devices, QWidget* parent)
    : QWidget(parent), engine_(engine), devices_(devices) {
    auto* group = new QGroupBox(QStringLiteral("升级设置"), this);
    fileFormat_ = MakeList({QStringLiteral("无压缩"), QStringLiteral("压缩")}, "1006", group);
    downloadTime_ = MakeList({QStringLiteral("按时"), QStringLiteral("立即")}, "1007", group);
    parameterMode_ = MakeList({QStringLiteral("不保留"), QStringLiteral("保留")}, "1008", group);
    downloadContent_ =
        MakeList({QStringLiteral("应用程序"), QStringLiteral("BOOT程序")}, "1009", group);
    protocol_ = MakeList({"TCP", "UDP"}, "1010", group);
    QStringList frames;
    for (int i = 1; i <= 16; ++i) frames << QString::number(i);
    answerFrames_ = MakeList(frames, "1012", group);

    address_ = new QLineEdit(group);
    address_->setObjectName("1015");
    const QString octet = "(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)";
    address_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^(%1\\.){3}%1$").arg(octet)), address_));
    port_ = MakeList({"5001", "5002", "5003"}, "1013", group);
    port_->setEditable(true);
    port_->setCurrentIndex(-1);
    port_->setEditText(QString());
    version_ = new QLineEdit(group);
    version_->setObjectName("1011");
    set_ = new QPushButton(QStringLiteral("设置"), group);
    set_->setObjectName("1002");

    auto* grid = new QGridLayout(group);
    const std::pair<const char*, QWidget*> rows[] = {
        {"文件格式:", fileFormat_},    {"下载时间:", downloadTime_},
        {"参数模式:", parameterMode_}, {"下载内容:", downloadContent_},
        {"协议模式:", protocol_},      {"应答帧数:", answerFrames_},
        {"升级服务器IP:", address_},   {"升级服务器端口:", port_},
        {"版本号:", version_},
    };
    int row = 0;
    for (const auto& [label, control] : rows) {
        grid->addWidget(new QLabel(QString::fromUtf8(label), group), row / 2, (row % 2) * 2);
        grid->addWidget(control, row / 2, (row % 2) * 2 + 1);
        ++row;
    }
    groupSet_ = new QPushButton(QStringLiteral("群发设置"), group);
    groupSet_->setObjectName("groupSet");
    grid->addWidget(set_, row / 2 + 1, 2);
    grid->addWidget(groupSet_, row / 2 + 1, 3);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch(1);

    connect(set_, &QPushButton::clicked, this, &CUpgradeControl::OnSet);
    connect(groupSet_, &QPushButton::clicked, this, &CUpgradeControl::OnGroupSet);
}

void CUpgradeControl::Tell(const QString& text) {
    if (inform_) {
        inform_(text, QStringLiteral("提示"));
    } else {
        QMessageBox::information(this, QStringLiteral("提示"), text);
    }
}

std::optional<UpgradeForm> CUpgradeControl::FormOnWindowThread() const {
    UpgradeForm form;
    form.fileFormat = fileFormat_->currentIndex();
    form.downloadTime = downloadTime_->currentIndex();
    form.parameterMode = parameterMode_->currentIndex();
    form.downloadContent = downloadContent_->currentIndex();
    form.protocol = protocol_->currentIndex();
    const auto frames = Utf8ToGbk(answerFrames_->currentText().toStdString());
    const auto address = Utf8ToGbk(address_->text().toStdString());
    const auto port = Utf8ToGbk(port_->currentText().toStdString());
    const auto version = Utf8ToGbk(version_->text().toStdString());
    if (!frames || !address || !port || !version) return std::nullopt;
    form.answerFrames = *frames;
    form.serverAddress = *address;
    form.serverPort = *port;
    form.version = *version;
    return form;
}

bool CUpgradeControl::PasswordAndFormAccepted() {
    std::optional<QString> entered;
    if (passwordEntry_) {
        entered = passwordEntry_();
    } else {
        CPSWDlg dialog(this);
        if (dialog.exec() == QDialog::Accepted) entered = dialog.Password();
    }
    if (!entered) return false;
    if (!IsUpgradePassword(*entered)) {
        Tell(QStringLiteral("密码输入错误!"));
        return false;
    }
    const std::optional<UpgradeForm> form = FormOnWindowThread();
    if (!form) {
        Tell(QStringLiteral("升级参数含有无法发送的字符,请修改!"));
        return false;
    }
    const QString problem = UpgradeFormProblem(*form);
    if (!problem.isEmpty()) {
        Tell(problem);
        return false;
    }
    accepted_ = *form;
    return true;
}

void CUpgradeControl::OnSet() {
    if (!PasswordAndFormAccepted()) return;
    engine_.SubmitPageCommand(devices_, CommandKind::SendUpgradeParams);
}

void CUpgradeControl::OnGroupSet() {
    if (launcher_ == nullptr || !PasswordAndFormAccepted()) return;
    launcher_->Launch(CommandKind::SendUpgradeParams);
}

UpgradeForm CUpgradeControl::ReadUpgradeForm() {
    UpgradeForm form;
    auto read = [this, &form] {
        // The controls as they stand when the job runs; should they no longer
        // pass the checks, the form the operator confirmed goes instead.
        const std::optional<UpgradeForm> current = FormOnWindowThread();
        form = current && UpgradeFormProblem(*current).isEmpty() ? *current : accepted_;
    };
    if (QThread::currentThread() == thread()) {
        read();
    } else {
        QMetaObject::invokeMethod(this, read, Qt::BlockingQueuedConnection);
    }
    return form;
}

}  // namespace pelmora
