// The service settings: the port, kept between runs, and the poll and offline
// times, which last for the run only.
#pragma once

#include <QString>

#include <memory>

class QSettings;

namespace pelmora {

inline constexpr int kDefaultPort = 5001;
inline constexpr int kDefaultPollSeconds = 5;
inline constexpr int kDefaultOfflineSeconds = 120;

class ServiceSettings final {
  public:
    // The port lives under the value "Pelmora" of the key "Software\Microsoft"
    // in the user's native settings store (the registry on Windows). Tests
    // pass an INI file instead.
    ServiceSettings();
    explicit ServiceSettings(const QString& iniFile);
    ~ServiceSettings();

    // Reads the port; a missing or unreadable value is written as the default.
    void Load();
    void StorePort(int port);

    int port = kDefaultPort;
    int pollSeconds = kDefaultPollSeconds;
    int offlineSeconds = kDefaultOfflineSeconds;

  private:
    std::unique_ptr<QSettings> store_;
};

}  // namespace pelmora
