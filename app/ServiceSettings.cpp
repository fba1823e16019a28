#include "ServiceSettings.h"

#include <QFile>
#include <QSettings>

#include "GatewayServer.h"

namespace pelmora {

namespace {
// The port's value name in the registry key of the Windows program.
constexpr char kRegistryValueName[] = "Pelmora";
// The port's key in the program's own file.
constexpr char kPortKey[] = "service/port";
constexpr char kWindowGroup[] = "window/";
constexpr char kValidityKey[] = "record/validityMinutes";
constexpr char kOfflineAlertKey[] = "record/offlineAlertMinutes";
constexpr int kWeekMinutes = 7 * 24 * 60;
constexpr char kMassConfirmKey[] = "safety/typedCountAbove";
constexpr char kDrillPrefixKey[] = "drill/prefix";
constexpr int kLongestDrillPrefix = 20;
constexpr char kHealthSoundKey[] = "health/sound";

constexpr char kGatewayAddressKey[] = "gateway/address";
constexpr char kGatewayPortKey[] = "gateway/port";
constexpr char kGatewayTokenKey[] = "gateway/token";
constexpr char kGatewayCertificateKey[] = "gateway/certificate";
constexpr char kGatewayKeyKey[] = "gateway/key";
constexpr char kGatewayAutoKey[] = "gateway/autoDispatch";
constexpr char kGatewayTemplateKey[] = "gateway/template";
constexpr char kGatewayGeocodeKey[] = "gateway/geocodeName";
constexpr int kLongestGatewayText = 4096;

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;
}  // namespace

ServiceSettings::ServiceSettings() {
#ifdef Q_OS_WIN
    store_ = std::make_unique<QSettings>("HKEY_CURRENT_USER\\Software\\Microsoft",
                                         QSettings::NativeFormat);
    window_ = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Pelmora",
                                          "Pelmora");
    portKey_ = kRegistryValueName;
#else
    store_ = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Pelmora",
                                         "Pelmora");
    portKey_ = kPortKey;
    QSettings legacy(QSettings::NativeFormat, QSettings::UserScope, "Microsoft");
    MigrateFrom(legacy);
#endif
}

ServiceSettings::ServiceSettings(const QString& iniFile)
    : store_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)), portKey_(kPortKey) {}

ServiceSettings::ServiceSettings(const QString& iniFile, const QString& legacyIniFile)
    : ServiceSettings(iniFile) {
    QSettings legacy(legacyIniFile, QSettings::IniFormat);
    MigrateFrom(legacy);
}

ServiceSettings::~ServiceSettings() = default;

void ServiceSettings::MigrateFrom(QSettings& legacy) {
    // Once: a port already in the program's own file wins, and the old
    // value is taken out of the old file when it has been moved.
    if (store_->contains(portKey_) || !legacy.contains(kRegistryValueName)) return;
    store_->setValue(portKey_, legacy.value(kRegistryValueName));
    store_->sync();
    if (store_->status() != QSettings::NoError) return;  // keep the old one
    legacy.remove(kRegistryValueName);
    legacy.sync();
}

void ServiceSettings::Load() {
    loadNotice.clear();
    port = kDefaultPort;
    if (!store_->contains(portKey_)) {
        StorePort(kDefaultPort);
    } else {
        const QString stored = store_->value(portKey_).toString();
        bool ok = false;
        const int value = stored.trimmed().toInt(&ok);
        if (ok && value >= kLowestPort && value <= kHighestPort) {
            port = value;
        } else {
            loadNotice = QStringLiteral("设置中保存的服务端口“%1”无效(应为%2到%3),改用默认端口%4")
                             .arg(stored.left(40))
                             .arg(kLowestPort)
                             .arg(kHighestPort)
                             .arg(kDefaultPort);
            StorePort(kDefaultPort);
        }
    }
    pollSeconds = kDefaultPollSeconds;
    offlineSeconds = kDefaultOfflineSeconds;
    QSettings& own = Own();
    const auto minutes = [&](const char* key, int lowest, int fallback) {
        if (!own.contains(key)) return fallback;
        const QString stored = own.value(key).toString();
        bool ok = false;
        const int value = stored.trimmed().toInt(&ok);
        if (ok && value >= lowest && value <= kWeekMinutes) return value;
        if (!loadNotice.isEmpty()) loadNotice += QStringLiteral(";");
        loadNotice += QStringLiteral("设置中保存的“%1”值“%2”无效(应为%3到%4分钟),改用默认值%5")
                          .arg(QString::fromLatin1(key))
                          .arg(stored.left(40))
                          .arg(lowest)
                          .arg(kWeekMinutes)
                          .arg(fallback);
        return fallback;
    };
    validityMinutes = minutes(kValidityKey, 0, kDefaultValidityMinutes);
    offlineAlertMinutes = minutes(kOfflineAlertKey, 1, kDefaultOfflineAlertMinutes);
    massConfirmAbove = kDefaultMassConfirmAbove;
    if (own.contains(kMassConfirmKey)) {
        bool ok = false;
        const int value = own.value(kMassConfirmKey).toString().trimmed().toInt(&ok);
        if (ok && value >= 1 && value <= 1000000) massConfirmAbove = value;
    }
    drillPrefix = QString::fromUtf8(kDefaultDrillPrefix);
    if (own.contains(kDrillPrefixKey)) {
        const QString stored = own.value(kDrillPrefixKey).toString();
        // Never empty: people near a terminal must hear that it is a drill.
        if (!stored.trimmed().isEmpty() && stored.size() <= kLongestDrillPrefix)
            drillPrefix = stored;
    }
    healthSound = false;
    if (own.contains(kHealthSoundKey)) {
        const QString stored = own.value(kHealthSoundKey).toString().trimmed().toLower();
        if (stored == QLatin1String("true") || stored == QLatin1String("1")) {
            healthSound = true;
        } else if (stored != QLatin1String("false") && stored != QLatin1String("0")) {
            if (!loadNotice.isEmpty()) loadNotice += QStringLiteral(";");
            loadNotice +=
                QStringLiteral("设置中保存的“%1”值“%2”无效(应为true或false),改用默认值false")
                    .arg(QString::fromLatin1(kHealthSoundKey))
                    .arg(own.value(kHealthSoundKey).toString().left(40));
        }
    }
    LoadGateway();
}

void ServiceSettings::LoadGateway() {
    QSettings& own = Own();
    gateway = GatewaySettings{};
    const auto text = [&](const char* key) {
        return own.value(key).toString().trimmed().left(kLongestGatewayText);
    };
    const auto notice = [&](const QString& line) {
        if (!loadNotice.isEmpty()) loadNotice += QStringLiteral(";");
        loadNotice += line;
    };
    if (own.contains(kGatewayAddressKey) && !text(kGatewayAddressKey).isEmpty())
        gateway.address = text(kGatewayAddressKey);
    if (own.contains(kGatewayPortKey)) {
        bool ok = false;
        const int value = text(kGatewayPortKey).toInt(&ok);
        if (ok && value >= kLowestPort && value <= kHighestPort)
            gateway.port = value;
        else
            notice(QStringLiteral("设置中保存的“%1”值“%2”无效(应为%3到%4),改用默认值%5")
                       .arg(QString::fromLatin1(kGatewayPortKey))
                       .arg(text(kGatewayPortKey).left(40))
                       .arg(kLowestPort)
                       .arg(kHighestPort)
                       .arg(kDefaultGatewayPort));
    }
    gateway.token = text(kGatewayTokenKey);
    gateway.certificate = text(kGatewayCertificateKey);
    gateway.key = text(kGatewayKeyKey);
    gateway.autoDispatch = text(kGatewayAutoKey);
    gateway.pattern = own.value(kGatewayTemplateKey).toString().left(kLongestGatewayText);
    gateway.geocodeName = text(kGatewayGeocodeKey);
    // A token that is too short to be safe is made again, as at first start.
    if (gateway.token.size() < 32) {
        gateway.token = QString::fromStdString(gateway::NewToken());
        StoreGatewaySettings(gateway);
    }
}

void ServiceSettings::StoreGatewaySettings(const GatewaySettings& settings) {
    gateway = settings;
    QSettings& own = Own();
    own.setValue(kGatewayAddressKey, settings.address);
    own.setValue(kGatewayPortKey, settings.port);
    own.setValue(kGatewayTokenKey, settings.token);
    own.setValue(kGatewayCertificateKey, settings.certificate);
    own.setValue(kGatewayKeyKey, settings.key);
    own.setValue(kGatewayAutoKey, settings.autoDispatch);
    own.setValue(kGatewayTemplateKey, settings.pattern);
    own.setValue(kGatewayGeocodeKey, settings.geocodeName);
    own.sync();
    Protect();
}

void ServiceSettings::Protect() {
    if (Own().format() == QSettings::NativeFormat) {
#ifdef Q_OS_WIN
        return;  // the registry, under the user's own key
#endif
    }
    QFile::setPermissions(Own().fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void ServiceSettings::StoreHealthSound(bool on) {
    healthSound = on;
    QSettings& own = Own();
    own.setValue(kHealthSoundKey, on);
    own.sync();
}

void ServiceSettings::StoreSafetySettings(int above, const QString& prefix) {
    massConfirmAbove = above;
    drillPrefix = prefix;
    QSettings& own = Own();
    own.setValue(kMassConfirmKey, above);
    own.setValue(kDrillPrefixKey, prefix);
    own.sync();
}

void ServiceSettings::StoreRecordSettings(int validity, int offlineAlert) {
    validityMinutes = validity;
    offlineAlertMinutes = offlineAlert;
    QSettings& own = Own();
    own.setValue(kValidityKey, validity);
    own.setValue(kOfflineAlertKey, offlineAlert);
    own.sync();
}

void ServiceSettings::StorePort(int value) {
    store_->setValue(portKey_, value);
    store_->sync();
}

QByteArray ServiceSettings::WindowState(const QString& name) const {
    const QSettings& store = Own();
    return store.value(kWindowGroup + name).toByteArray();
}

void ServiceSettings::StoreWindowState(const QString& name, const QByteArray& value) {
    QSettings& store = Own();
    store.setValue(kWindowGroup + name, value);
}

void ServiceSettings::Sync() {
    store_->sync();
    if (window_) window_->sync();
}

QString ServiceSettings::Location() const {
    return store_->fileName();
}

}  // namespace pelmora
