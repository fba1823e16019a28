// The service settings dialog: port, poll time and offline time, each an
// editable list of common values.
#pragma once

#include <QDialog>

class QComboBox;

namespace pelmora {

class CServerSetting final : public QDialog {
    Q_OBJECT
  public:
    CServerSetting(int port, int pollSeconds, int offlineSeconds, QWidget* parent = nullptr);

    int Port() const { return port_; }
    int PollSeconds() const { return poll_; }
    int OfflineSeconds() const { return offline_; }

    // Reads the three texts; refuses, with a message, a port outside 1-65535
    // and times that are not positive whole numbers (an offline time of 0
    // would drop every terminal at each refresh). True when accepted.
    bool TakeValues();

    QComboBox* PortBox() const { return portBox_; }
    QComboBox* PollBox() const { return pollBox_; }
    QComboBox* OfflineBox() const { return offlineBox_; }

    void accept() override;

  signals:
    void Refused(const QString& message);

  private:
    QComboBox* portBox_;
    QComboBox* pollBox_;
    QComboBox* offlineBox_;
    int port_;
    int poll_;
    int offline_;
};

}  // namespace pelmora
