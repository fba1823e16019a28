// The left pane's command buttons. They know whether the mouse is over them,
// so that a style or a subclass of the pane can show them hot.
#pragma once

#include <QPushButton>

namespace pelmora {

class CCommandButtom final : public QPushButton {
    Q_OBJECT
  public:
    explicit CCommandButtom(QWidget* parent = nullptr);
    explicit CCommandButtom(const QString& text, QWidget* parent = nullptr);

    bool IsHovering() const { return hovering_; }

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void SetHovering(bool hovering);

    bool hovering_ = false;
};

}  // namespace pelmora
