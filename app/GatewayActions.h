// The window's side of the HTTP interface and the inbox: they run while the
// service runs, with the settings of "网关设置"; warnings that come through
// them wait in "待审核" or go out as soon as the engine takes them; the
// registry's copy they read is kept up to date.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QWidget;

namespace pelmora {

class CommandEngine;
class ServiceSettings;
namespace dispatch {
class FollowUps;
class RegistryKeeper;
class RegistryMirror;
class WarningDesk;
}  // namespace dispatch
namespace gateway {
class AlertIntake;
class GatewayServer;
class Inbox;
}  // namespace gateway
namespace store {
class Store;
}

class GatewayActions final : public QObject {
    Q_OBJECT
  public:
    using Log = std::function<void(const QString&)>;
    struct Options {
        std::string inboxFolder;  // empty: no inbox
        int port = -1;            // -1: the settings' port; 0: any free one
        std::function<std::int64_t()> now;
    };
    GatewayActions(store::Store& store, dispatch::FollowUps& followUps,
                   dispatch::RegistryKeeper& keeper, CommandEngine& engine,
                   ServiceSettings& settings, Log log, Options options, QWidget* dialogParent);
    ~GatewayActions() override;

    // With the service.
    void Start();
    void Stop();
    bool Running() const;
    int Port() const;

    dispatch::WarningDesk& Desk() { return *desk_; }
    // The drill text before a drill's content (the drill mode's).
    void SetDrillPrefix(const QString& prefix);
    // Sends the next warning that is ready, when the engine takes it.
    bool Send();
    // "网关设置": the address, port, token (renewed with a button), HTTPS
    // files, automatic dispatch, template and geocode name.
    void EditSettings();

  signals:
    // A warning joined or left "待审核". Window thread.
    void ReviewsChanged();

  private:
    void ApplySettings();
    void Tick();
    // The inbox is read on a thread of its own while the interface runs:
    // taking a file waits for its record to be written.
    void StartInbox();
    void StopInbox();

    store::Store& store_;
    dispatch::RegistryKeeper& keeper_;
    CommandEngine& engine_;
    ServiceSettings& settings_;
    Log log_;
    Options options_;
    QWidget* parent_;
    std::unique_ptr<dispatch::RegistryMirror> mirror_;
    std::unique_ptr<dispatch::WarningDesk> desk_;
    std::unique_ptr<gateway::AlertIntake> intake_;
    std::unique_ptr<gateway::GatewayServer> server_;
    std::unique_ptr<gateway::Inbox> inbox_;
    QTimer timer_;
    std::thread inboxThread_;
    std::mutex inboxLock_;
    std::condition_variable inboxWake_;
    bool inboxStop_ = false;  // guarded by inboxLock_
};

}  // namespace pelmora
