// The play-content page: a text the chosen terminal is to broadcast.
#pragma once

#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace pelmora {

class CommandEngine;
class GroupLauncher;
class IDeviceList;

// The content box's text as the terminal receives it: GBK, with each line
// break as CR LF; nothing when a character cannot be represented in GBK.
std::optional<std::string> PlayContentBytes(const QString& text);

// What a content will cost before it is sent: its GBK bytes and the pieces
// they take, or where the characters are that GBK cannot carry (start and
// length in the text, one entry a character).
struct ContentMeasure {
    std::size_t bytes = 0;
    std::size_t pieces = 0;
    std::vector<std::pair<int, int>> unsendable;
};
ContentMeasure MeasurePlayContent(const QString& text);
// "共 12 字节(GBK),分 1 片发送", or how many characters cannot be sent.
QString ContentMeasureText(const ContentMeasure& measure);
// Shows the measure of the box's text in `count`, and marks in the box the
// characters that cannot be sent.
void ShowContentMeasure(QPlainTextEdit& content, QLabel& count);

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
    // Under the content: its size, or the characters that cannot be sent,
    // which the box marks as they are typed.
    QLabel* CountLabel() const { return count_; }

  private:
    CommandEngine& engine_;
    const IDeviceList& devices_;
    QPlainTextEdit* content_;
    // The content as GBK, or nothing after telling the operator why not.
    std::optional<std::string> ContentOrTell();
    void ShowMeasure();
    QLabel* count_;
    QPushButton* send_;
    QPushButton* groupSend_;
    GroupLauncher* launcher_ = nullptr;
    Inform inform_;
};

}  // namespace pelmora
