#include "MySplitterWnd.h"

#include <QMouseEvent>

namespace pelmora {

namespace {

// Swallows the mouse so that the base handle never starts a drag, and keeps
// the arrow cursor: the base handle puts its resize cursor back whenever the
// orientation is set.
class FixedSplitterHandle final : public QSplitterHandle {
  public:
    FixedSplitterHandle(Qt::Orientation orientation, QSplitter* parent)
        : QSplitterHandle(orientation, parent) {
        setAttribute(Qt::WA_Hover, false);
        setCursor(Qt::ArrowCursor);
    }

  protected:
    bool event(QEvent* event) override {
        switch (event->type()) {
            case QEvent::CursorChange:
                if (cursor().shape() != Qt::ArrowCursor) setCursor(Qt::ArrowCursor);
                return true;
            case QEvent::HoverEnter:
            case QEvent::HoverMove:
            case QEvent::HoverLeave:
                return true;
            default:
                return QSplitterHandle::event(event);
        }
    }
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseMoveEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override { event->accept(); }
};

}  // namespace

CMySplitterWnd::CMySplitterWnd(QWidget* parent) : QSplitter(parent) {}

CMySplitterWnd::CMySplitterWnd(Qt::Orientation orientation, QWidget* parent)
    : QSplitter(orientation, parent) {}

QSplitterHandle* CMySplitterWnd::createHandle() {
    return new FixedSplitterHandle(orientation(), this);
}

}  // namespace pelmora
