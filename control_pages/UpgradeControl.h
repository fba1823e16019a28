// The "升级控制" page: the parameters of a firmware download for one
// terminal, sent after the upgrade password.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

#include "EngineUi.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace pelmora {

class CommandEngine;
class GroupLauncher;

// Why the form may not be sent, as the operator is told; empty when it may.
// The checks keep an upgrade request from carrying an unselected option
// (0xFF) or a text cut to its field.
QString UpgradeFormProblem(const UpgradeForm& form);

class CUpgradeControl final : public QWidget, public IUpgradeForm {
    Q_OBJECT
  public:
    // The entered password, or nothing when the operator cancelled.
    using PasswordEntry = std::function<std::optional<QString>()>;
    using Inform = std::function<void(const QString& text, const QString& caption)>;

    CUpgradeControl(CommandEngine& engine, const IDeviceList& devices, QWidget* parent = nullptr);

    void SetPasswordEntry(PasswordEntry entry) { passwordEntry_ = std::move(entry); }
    void SetInform(Inform inform) { inform_ = std::move(inform); }

    // "设置": password, checks, then the request is queued.
    void OnSet();
    // The same checks, then the parameters go to every ticked terminal.
    void OnGroupSet();
    void SetGroupLauncher(GroupLauncher* launcher) { launcher_ = launcher; }

    // Called by the worker when the job runs; blocks until the window thread
    // has read the controls.
    UpgradeForm ReadUpgradeForm() override;

    QComboBox* FileFormat() const { return fileFormat_; }
    QComboBox* DownloadTime() const { return downloadTime_; }
    QComboBox* ParameterMode() const { return parameterMode_; }
    QComboBox* DownloadContent() const { return downloadContent_; }
    QComboBox* Protocol() const { return protocol_; }
    QComboBox* AnswerFrames() const { return answerFrames_; }
    QLineEdit* ServerAddress() const { return address_; }
    QComboBox* ServerPort() const { return port_; }
    QLineEdit* Version() const { return version_; }
    QPushButton* SetButton() const { return set_; }
    QPushButton* GroupSetButton() const { return groupSet_; }

  private:
    // The controls as they stand; nothing when a text holds a character GBK
    // cannot represent.
    std::optional<UpgradeForm> FormOnWindowThread() const;
    void Tell(const QString& text);

    CommandEngine& engine_;
    const IDeviceList& devices_;
    QComboBox* fileFormat_;
    QComboBox* downloadTime_;
    QComboBox* parameterMode_;
    QComboBox* downloadContent_;
    QComboBox* protocol_;
    QComboBox* answerFrames_;
    QLineEdit* address_;
    QComboBox* port_;
    QLineEdit* version_;
    QPushButton* set_;
    QPushButton* groupSet_;
    GroupLauncher* launcher_ = nullptr;
    PasswordEntry passwordEntry_;
    Inform inform_;
    // Password, then the checks; true when the form may go (kept in accepted_).
    bool PasswordAndFormAccepted();
    UpgradeForm accepted_;  // window thread: the form as last checked at "设置"
};

}  // namespace pelmora
