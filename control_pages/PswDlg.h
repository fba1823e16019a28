// The password asked before upgrade parameters go to a terminal.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

namespace pelmora {

class CPSWDlg final : public QDialog {
    Q_OBJECT
  public:
    explicit CPSWDlg(QWidget* parent = nullptr);

    // The text entered, taken when "确定" was pressed; empty before.
    QString Password() const { return password_; }
    QLineEdit* Edit() const { return edit_; }

  private:
    void OnOk();

    QLineEdit* edit_;
    QString password_;
};

// Exact comparison, case and every byte included.
bool IsUpgradePassword(const QString& entered);

}  // namespace pelmora
