#include "GatewayActions.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "AlertIntake.h"
#include "AreaMatch.h"
#include "CapContent.h"
#include "CommandEngine.h"
#include "FollowUps.h"
#include "GatewayServer.h"
#include "Inbox.h"
#include "RegistryKeeper.h"
#include "RegistryMirror.h"
#include "ServiceSettings.h"
#include "WarningDesk.h"
#include "WarningRecorder.h"

namespace pelmora {

namespace {

constexpr int kTickMs = 1000;

}  // namespace

GatewayActions::GatewayActions(store::Store& store, dispatch::FollowUps& followUps,
                               dispatch::RegistryKeeper& keeper, CommandEngine& engine,
                               ServiceSettings& settings, Log log, Options options,
                               QWidget* dialogParent)
    : store_(store),
      keeper_(keeper),
      engine_(engine),
      settings_(settings),
      log_(std::move(log)),
      options_(std::move(options)),
      parent_(dialogParent),
      mirror_(std::make_unique<dispatch::RegistryMirror>()),
      desk_(std::make_unique<dispatch::WarningDesk>(store, &followUps, dispatch::DesktopUser(),
                                                    options_.now)) {
    desk_->Load();
    keeper_.SetMirror(mirror_.get());
    const auto logUtf8 = [this](const std::string& line) { log_(QString::fromStdString(line)); };
    intake_ =
        std::make_unique<gateway::AlertIntake>(*desk_, *mirror_, store_, logUtf8, options_.now);
    server_ = std::make_unique<gateway::GatewayServer>(*intake_, logUtf8);
    if (!options_.inboxFolder.empty())
        inbox_ = std::make_unique<gateway::Inbox>(options_.inboxFolder, *intake_, logUtf8);
    // Told on the server's threads: the window sends and shows.
    desk_->SetListener([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                Send();
                emit ReviewsChanged();
            },
            Qt::QueuedConnection);
    });
    ApplySettings();
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start(kTickMs);
}

GatewayActions::~GatewayActions() {
    timer_.stop();
    StopInbox();
    server_->Stop();
    desk_->SetListener({});
    keeper_.SetMirror(nullptr);
}

void GatewayActions::ApplySettings() {
    const GatewaySettings& g = settings_.gateway;
    gateway::IntakeSettings intake;
    if (!g.geocodeName.isEmpty()) intake.geocodeName = g.geocodeName.toStdString();
    if (!g.pattern.trimmed().isEmpty()) intake.pattern = g.pattern.toStdString();
    std::string error;
    intake.autoDispatch = gateway::AutoDispatch::Parse(g.autoDispatch.toStdString(), &error);
    if (!error.empty())
        log_(QStringLiteral("网关设置中的自动发布条件无效(%1),所有预警等待审核")
                 .arg(QString::fromStdString(error)));
    intake.defaultValidity = static_cast<std::int64_t>(settings_.validityMinutes) * 60;
    intake_->SetSettings(std::move(intake));
    server_->SetToken(g.token.toStdString());
}

void GatewayActions::SetDrillPrefix(const QString& prefix) {
    desk_->SetDrillPrefix(prefix.toStdString());
}

void GatewayActions::Start() {
    if (server_->Running()) return;
    ApplySettings();
    keeper_.PublishMirror();
    const GatewaySettings& g = settings_.gateway;
    gateway::GatewayOptions options;
    options.address = g.address.toStdString();
    options.port = options_.port >= 0 ? options_.port : g.port;
    options.token = g.token.toStdString();
    options.certificate = g.certificate.toStdString();
    options.key = g.key.toStdString();
    const std::string problem = server_->Start(options);
    if (!problem.empty()) {
        log_(QStringLiteral("网关未能启动: %1").arg(QString::fromStdString(problem)));
        return;
    }
    StartInbox();
    log_(QStringLiteral("网关启动, %1://%2:%3/api/v1/")
             .arg(options.certificate.empty() || options.key.empty() ? QStringLiteral("http")
                                                                     : QStringLiteral("https"))
             .arg(g.address)
             .arg(server_->Port()));
}

void GatewayActions::Stop() {
    if (!server_->Running()) return;
    StopInbox();
    server_->Stop();
    log_(QStringLiteral("网关已停止"));
}

bool GatewayActions::Running() const {
    return server_->Running();
}

int GatewayActions::Port() const {
    return server_->Port();
}

bool GatewayActions::Send() {
    return desk_->Send(engine_, [this](std::uint32_t id) { return keeper_.Online(id); });
}

void GatewayActions::Tick() {
    // The copy the server's threads read is kept only while they may read it.
    if (server_->Running()) keeper_.PublishMirror();
    // A warning the engine could not take (busy) goes at the next tick.
    if (desk_->Ready() != 0) Send();
}

void GatewayActions::StartInbox() {
    if (!inbox_ || inboxThread_.joinable()) return;
    inboxStop_ = false;
    inboxThread_ = std::thread([this] {
        std::unique_lock guard(inboxLock_);
        while (!inboxStop_) {
            guard.unlock();
            inbox_->Scan();
            guard.lock();
            inboxWake_.wait_for(guard, std::chrono::milliseconds(kTickMs),
                                [this] { return inboxStop_; });
        }
    });
}

void GatewayActions::StopInbox() {
    if (!inboxThread_.joinable()) return;
    {
        std::lock_guard guard(inboxLock_);
        inboxStop_ = true;
    }
    inboxWake_.notify_all();
    inboxThread_.join();
}

void GatewayActions::EditSettings() {
    GatewaySettings g = settings_.gateway;
    QDialog dialog(parent_);
    dialog.setWindowTitle(QStringLiteral("网关设置"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    auto* address = new QLineEdit(g.address, &dialog);
    auto* port = new QSpinBox(&dialog);
    port->setRange(1, 65535);
    port->setValue(g.port);
    auto* token = new QLineEdit(g.token, &dialog);
    token->setReadOnly(true);
    token->setObjectName(QStringLiteral("gatewayToken"));
    auto* renew = new QPushButton(QStringLiteral("更新令牌"), &dialog);
    auto* tokenRow = new QHBoxLayout;
    tokenRow->addWidget(token, 1);
    tokenRow->addWidget(renew);
    auto* certificate = new QLineEdit(g.certificate, &dialog);
    auto* key = new QLineEdit(g.key, &dialog);
    auto* automatic = new QLineEdit(g.autoDispatch, &dialog);
    automatic->setPlaceholderText(QStringLiteral("空: 所有预警等待审核"));
    auto* pattern = new QLineEdit(
        g.pattern.isEmpty() ? QString::fromUtf8(gateway::kDefaultTemplate) : g.pattern, &dialog);
    auto* geocode = new QLineEdit(
        g.geocodeName.isEmpty() ? QString::fromUtf8(gateway::kDefaultGeocodeName) : g.geocodeName,
        &dialog);
    form->addRow(QStringLiteral("侦听地址"), address);
    form->addRow(QStringLiteral("端口"), port);
    form->addRow(QStringLiteral("访问令牌"), tokenRow);
    form->addRow(QStringLiteral("HTTPS 证书"), certificate);
    form->addRow(QStringLiteral("HTTPS 私钥"), key);
    form->addRow(QStringLiteral("自动发布条件"), automatic);
    form->addRow(QStringLiteral("内容模板"), pattern);
    form->addRow(QStringLiteral("区划代码名称"), geocode);
    auto* hint = new QLabel(QStringLiteral("自动发布条件写作 严重程度+紧急程度+确定程度, "
                                           "多个条件用 ; 分隔, 例如 Extreme+Immediate+Observed"),
                            &dialog);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    connect(renew, &QPushButton::clicked, &dialog,
            [token] { token->setText(QString::fromStdString(gateway::NewToken())); });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        std::string error;
        gateway::AutoDispatch::Parse(automatic->text().trimmed().toStdString(), &error);
        if (!error.empty()) {
            QMessageBox::warning(
                &dialog, QStringLiteral("网关设置"),
                QStringLiteral("自动发布条件无效: %1").arg(QString::fromStdString(error)));
            return;
        }
        if (address->text().trimmed().isEmpty()) {
            QMessageBox::warning(&dialog, QStringLiteral("网关设置"),
                                 QStringLiteral("侦听地址不能为空"));
            return;
        }
        dialog.accept();
    });
    if (dialog.exec() != QDialog::Accepted) return;
    g.address = address->text().trimmed();
    g.port = port->value();
    g.token = token->text();
    g.certificate = certificate->text().trimmed();
    g.key = key->text().trimmed();
    g.autoDispatch = automatic->text().trimmed();
    g.pattern = pattern->text().trimmed() == QString::fromUtf8(gateway::kDefaultTemplate)
                    ? QString()
                    : pattern->text().trimmed();
    g.geocodeName = geocode->text().trimmed() == QString::fromUtf8(gateway::kDefaultGeocodeName)
                        ? QString()
                        : geocode->text().trimmed();
    const bool moved = g.address != settings_.gateway.address || g.port != settings_.gateway.port ||
                       g.certificate != settings_.gateway.certificate ||
                       g.key != settings_.gateway.key;
    settings_.StoreGatewaySettings(g);
    ApplySettings();
    log_(QStringLiteral("网关设置已保存"));
    if (moved && server_->Running()) {
        Stop();
        Start();
    }
}

}  // namespace pelmora
