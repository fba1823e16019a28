// The service settings: the port, kept between runs, and the poll and offline
// times, which last for the run only; beside them the window's remembered
// state (geometry, splitters, column widths).
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QSettings;

namespace pelmora {

inline constexpr int kDefaultPort = 5001;
inline constexpr int kDefaultPollSeconds = 5;
inline constexpr int kDefaultOfflineSeconds = 120;
// Kept between runs: how long a warning is followed up to terminals that
// missed it (0: not at all), and after how long offline a terminal is
// counted as long offline.
inline constexpr int kDefaultValidityMinutes = 120;
inline constexpr int kDefaultOfflineAlertMinutes = 30;
// Kept between runs: above how many terminals a warning, restart or upgrade
// asks for the number typed, and what drill mode puts before play content.
inline constexpr int kDefaultMassConfirmAbove = 20;
inline const char* const kDefaultDrillPrefix = "【演练】";

// The HTTP interface's settings, kept between runs (keys "gateway/...").
inline constexpr int kDefaultGatewayPort = 5080;
inline const char* const kDefaultGatewayAddress = "127.0.0.1";
struct GatewaySettings {
    QString address = QString::fromLatin1(kDefaultGatewayAddress);
    int port = kDefaultGatewayPort;
    QString token;  // made at first start
    QString certificate;
    QString key;
    QString autoDispatch;  // "Extreme+Immediate+Observed;..."; empty: every alert waits
    QString pattern;       // the content's template; empty: the default
    QString geocodeName;   // empty: the default
};

class ServiceSettings final {
  public:
    // The user's store. On Windows the port lives under the value "Pelmora"
    // of the key "HKEY_CURRENT_USER\Software\Microsoft", as it always has,
    // and the window's state under "Software\Pelmora". Elsewhere both live in
    // the program's own file (~/.config/Pelmora/Pelmora.conf); a port left
    // in the store of earlier versions (~/.config/Microsoft.conf) is moved
    // there once.
    ServiceSettings();
    // One INI file for everything (tests, and a portable setup).
    explicit ServiceSettings(const QString& iniFile);
    // The program's own file, with the earlier versions' file to move a port
    // from; for tests.
    ServiceSettings(const QString& iniFile, const QString& legacyIniFile);
    ~ServiceSettings();

    // Reads the port; a missing value, one that is not a number and one
    // outside 1 to 65535 are written as the default, the last two with a
    // notice for the log. The record's two times are read too; one that is
    // not a whole number from 0 to a week (validity) or 1 to a week gives
    // the default, with a notice, and so is a sound switch that is neither
    // true nor false.
    void Load();
    void StorePort(int port);
    void StoreRecordSettings(int validity, int offlineAlert);
    void StoreSafetySettings(int massConfirmAbove, const QString& drillPrefix);
    void StoreHealthSound(bool on);
    // Writes the gateway's settings; the file is then readable by its owner
    // only, for the token.
    void StoreGatewaySettings(const GatewaySettings& settings);

    // The window's remembered state by name; empty when never stored.
    QByteArray WindowState(const QString& name) const;
    void StoreWindowState(const QString& name, const QByteArray& value);
    void Sync();

    // Where the settings are kept, for the operator's guide and the log.
    QString Location() const;

    int port = kDefaultPort;
    int pollSeconds = kDefaultPollSeconds;
    int offlineSeconds = kDefaultOfflineSeconds;
    int validityMinutes = kDefaultValidityMinutes;
    int offlineAlertMinutes = kDefaultOfflineAlertMinutes;
    int massConfirmAbove = kDefaultMassConfirmAbove;
    QString drillPrefix = QString::fromUtf8(kDefaultDrillPrefix);
    // Kept between runs: a beep when a change joins the change list ("变化").
    bool healthSound = false;
    GatewaySettings gateway;
    // What Load refused, for the log; empty when the stored port was used.
    QString loadNotice;

  private:
    void MigrateFrom(QSettings& legacy);
    void LoadGateway();
    // Owner-only access to the file that holds the token.
    void Protect();
    // Where everything but the port is kept.
    QSettings& Own() const { return window_ ? *window_ : *store_; }

    std::unique_ptr<QSettings> store_;   // the port
    std::unique_ptr<QSettings> window_;  // the window's state; may be store_'s file
    QString portKey_;
};

}  // namespace pelmora
