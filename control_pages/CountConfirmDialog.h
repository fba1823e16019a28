// The question before a warning, restart or upgrade goes to many terminals:
// the operator types the number of terminals to go on. The safe answer,
// "取消", is the default button until the right number is typed; "确认"
// takes only that number.
#pragma once

#include <QDialog>
#include <QString>

#include <cstddef>

class QLineEdit;
class QPushButton;

namespace pelmora {

class CountConfirmDialog final : public QDialog {
    Q_OBJECT
  public:
    CountConfirmDialog(const QString& text, const QString& caption, std::size_t count,
                       QWidget* parent = nullptr);

    QLineEdit* CountBox() const { return box_; }
    QPushButton* ConfirmButton() const { return confirm_; }
    QPushButton* CancelButton() const { return cancel_; }

    // Shows the dialog; true when the operator typed the number and confirmed.
    static bool Ask(QWidget* parent, const QString& text, const QString& caption,
                    std::size_t count);

  private:
    QLineEdit* box_;
    QPushButton* confirm_;
    QPushButton* cancel_;
};

}  // namespace pelmora
