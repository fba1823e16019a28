// "待审核": the warnings that came through the HTTP interface or the inbox
// and wait for the operator, above the warning form. One is taken into the
// form to be checked, edited and sent with the usual confirmation; or it is
// refused; its alert can be read whole. Hidden while nothing waits.
#pragma once

#include <QWidget>

#include <cstdint>
#include <optional>
#include <vector>

#include "WarningDesk.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace pelmora {

class ReviewBar final : public QWidget {
    Q_OBJECT
  public:
    explicit ReviewBar(QWidget* parent = nullptr);

    void SetDesk(dispatch::WarningDesk* desk) { desk_ = desk; }
    dispatch::WarningDesk* Desk() const { return desk_; }
    // Reads the waiting warnings again.
    void Refresh();
    // The one taken into the form, if any.
    std::optional<dispatch::Review> Taken() const { return taken_; }
    void SetTaken(std::optional<dispatch::Review> review);

    QComboBox* List() const { return list_; }
    QPushButton* TakeButton() const { return take_; }
    QPushButton* RefuseButton() const { return refuse_; }
    QLabel* TakenLabel() const { return takenLabel_; }
    // The alert's document, in a window of its own.
    void ShowAlert(std::int64_t warningId);

  signals:
    void TakeRequested(std::int64_t warningId);
    void RefuseRequested(std::int64_t warningId);
    void LeaveRequested();

  private:
    std::int64_t Chosen() const;

    dispatch::WarningDesk* desk_ = nullptr;
    std::vector<dispatch::Review> reviews_;
    std::optional<dispatch::Review> taken_;
    QLabel* title_;
    QComboBox* list_;
    QPushButton* take_;
    QPushButton* refuse_;
    QPushButton* alert_;
    QLabel* takenLabel_;
    QPushButton* leave_;
};

}  // namespace pelmora
