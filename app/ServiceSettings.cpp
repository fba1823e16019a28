#include "ServiceSettings.h"

#include <QSettings>

namespace pelmora {

namespace {
constexpr char kValueName[] = "Pelmora";

std::unique_ptr<QSettings> NativeStore() {
#ifdef Q_OS_WIN
    return std::make_unique<QSettings>("HKEY_CURRENT_USER\\Software\\Microsoft",
                                       QSettings::NativeFormat);
#else
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Microsoft");
#endif
}
}  // namespace

ServiceSettings::ServiceSettings() : store_(NativeStore()) {}

ServiceSettings::ServiceSettings(const QString& iniFile)
    : store_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

ServiceSettings::~ServiceSettings() = default;

void ServiceSettings::Load() {
    bool ok = false;
    const int stored = store_->value(kValueName).toInt(&ok);
    if (ok && store_->contains(kValueName)) {
        port = stored;
    } else {
        port = kDefaultPort;
        StorePort(kDefaultPort);
    }
    pollSeconds = kDefaultPollSeconds;
    offlineSeconds = kDefaultOfflineSeconds;
}

void ServiceSettings::StorePort(int value) {
    store_->setValue(kValueName, value);
    store_->sync();
}

}  // namespace pelmora
