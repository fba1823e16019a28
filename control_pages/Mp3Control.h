// The "系统控制" page: start or stop one of the terminal's stored MP3 titles,
// and query the terminal's software and boot program versions.
#pragma once

#include <QWidget>

#include <string>

#include "EngineUi.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace pelmora {

class CommandEngine;
class GroupLauncher;

// The title number of a list text, formatted as the terminal expects it:
// the leading decimal digits, 0 when there are none ("3" is "00003").
std::string FormatTitleNumber(const QString& text);

class CMp3Control final : public QWidget, public IVersionView {
    Q_OBJECT
  public:
    CMp3Control(CommandEngine& engine, const IDeviceList& devices, QWidget* parent = nullptr);

    void OnPlay();
    void OnStop();
    void OnQuery();
    // The same for every ticked terminal at once.
    void OnGroupPlay();
    void OnGroupStop();
    void OnGroupQuery();
    void SetGroupLauncher(GroupLauncher* launcher) { launcher_ = launcher; }

    // Called by the worker; the boxes are written later on the window thread.
    void ShowVersions(const std::string& software, const std::string& boot) override;

    QComboBox* TitleList() const { return titles_; }
    QLineEdit* BootVersionBox() const { return bootBox_; }
    QLineEdit* SoftwareVersionBox() const { return softwareBox_; }
    QPushButton* PlayButton() const { return play_; }
    QPushButton* StopButton() const { return stop_; }
    QPushButton* QueryButton() const { return query_; }
    QPushButton* GroupPlayButton() const { return groupPlay_; }
    QPushButton* GroupStopButton() const { return groupStop_; }
    QPushButton* GroupQueryButton() const { return groupQuery_; }

  private:
    CommandEngine& engine_;
    const IDeviceList& devices_;
    QComboBox* titles_;
    QPushButton* play_;
    QPushButton* stop_;
    QPushButton* query_;
    QPushButton* groupPlay_;
    QPushButton* groupStop_;
    QPushButton* groupQuery_;
    GroupLauncher* launcher_ = nullptr;
    QLineEdit* bootBox_;
    QLineEdit* softwareBox_;
};

}  // namespace pelmora
