#include "CommandButton.h"

#include <QEnterEvent>
#include <QMouseEvent>

namespace pelmora {

// Tracking on: moves arrive with no button held too.
CCommandButtom::CCommandButtom(QWidget* parent) : QPushButton(parent) {
    setMouseTracking(true);
}

CCommandButtom::CCommandButtom(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setMouseTracking(true);
}

void CCommandButtom::enterEvent(QEnterEvent* event) {
    SetHovering(true);
    QPushButton::enterEvent(event);
}

void CCommandButtom::leaveEvent(QEvent* event) {
    SetHovering(false);
    QPushButton::leaveEvent(event);
}

// While a button is held the mouse stays grabbed, so moves still arrive once
// the pointer has left: those clear the flag.
void CCommandButtom::mouseMoveEvent(QMouseEvent* event) {
    SetHovering(rect().contains(event->position().toPoint()));
    QPushButton::mouseMoveEvent(event);
}

void CCommandButtom::SetHovering(bool hovering) {
    if (hovering == hovering_) return;
    hovering_ = hovering;
    update();
}

}  // namespace pelmora
