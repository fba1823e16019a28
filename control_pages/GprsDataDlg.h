// The play-content page: a text the chosen terminal is to broadcast.
#pragma once

#include <QWidget>

#include <functional>
#include <optional>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace pelmora {

class CommandEngine;
class GroupLauncher;
class IDeviceList;

// The content box's text as the terminal receives it: GBK, with each line
// break as CR LF; nothing when a character cannot be represented in GBK.
std::optional<std::string> PlayContentBytes(const QString& text);

class CGPRSDataDlg final : public QWidget {
    Q_OBJECT
  public:
    using Inform = std::function<void(const QString& text, const QString& caption)>;

    CGPRSDataDlg(CommandEngine& engine, const IDeviceList& devices, QWidget* parent = nullptr);

    void SetInform(Inform inform) { inform_ = std::move(inform); }
    void OnSend();
    // The same content to every ticked terminal.
    void OnGroupSend();
    void SetGroupLauncher(GroupLauncher* launcher) { launcher_ = launcher; }

    QPlainTextEdit* Content() const { return content_; }
    QPushButton* SendButton() const { return send_; }
    QPushButton* GroupSendButton() const { return groupSend_; }

  private:
    CommandEngine& engine_;
    const IDeviceList& devices_;
    QPlainTextEdit* content_;
    // The content as GBK, or nothing after telling the operator why not.
    std::optional<std::string> ContentOrTell();
    QPushButton* send_;
    QPushButton* groupSend_;
    GroupLauncher* launcher_ = nullptr;
    Inform inform_;
};

}  // namespace pelmora
