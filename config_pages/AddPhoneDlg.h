// The modal dialog in which the operator types one or more phone numbers,
// separated by commas, for a number page's add command.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLineEdit;
class QPushButton;

namespace pelmora {

class CommandEngine;

class CAddPhoneDlg final : public QDialog {
    Q_OBJECT
  public:
    // Shows a refusal to the operator; by default an owner-less message box.
    using MessageBox = std::function<void(const QString& text)>;

    explicit CAddPhoneDlg(CommandEngine& engine, QWidget* parent = nullptr);

    void SetMessageBox(MessageBox messageBox);

    // What "确定" does: checks the typed text and closes the dialog with OK
    // when it is acceptable and the engine is free. False when it stays open.
    bool TryAccept();

    // The accepted numbers, without a trailing comma.
    QString Numbers() const { return numbers_; }
    QLineEdit* Edit() const { return edit_; }

  private:
    void Refuse(const QString& text);

    CommandEngine& engine_;
    MessageBox messageBox_;
    QLineEdit* edit_;
    QString numbers_;
};

}  // namespace pelmora
