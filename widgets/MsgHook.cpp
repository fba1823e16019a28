#include "MsgHook.h"

#include <QApplication>
#include <QKeyEvent>
#include <QList>
#include <QMouseEvent>
#include <QWheelEvent>

namespace pelmora {

namespace {

int liveObservers = 0;
// Observers with an editor, in the order they started watching.
QList<CMsgHook*> attached;

// Unlike QWidget::isAncestorOf this crosses window borders, so that a popup
// (combo box list, calendar, context menu) counts as inside the widget that
// owns it.
bool IsWithin(const QWidget* widget, const QWidget* container) {
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
        if (w == container) return true;
    }
    return false;
}

bool IsEnter(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

bool IsTab(const QKeyEvent& key) {
    if (key.modifiers() & Qt::ControlModifier) return false;
    return key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab;
}

}  // namespace

// The one filter all observers share; it only reads events, apart from the
// keys that end an edit or walk to the next cell, which it takes.
class MsgHookFilter final : public QObject {
  public:
    bool eventFilter(QObject* receiver, QEvent* event) override;

  private:
    static bool OnKey(QWidget* receiver, QKeyEvent* key);
    static void OnFocusOut(QWidget* receiver);
    static void OnPointer(QWidget* receiver, const QPointF* globalPos);
};

namespace {
MsgHookFilter* filter = nullptr;
}

bool MsgHookFilter::eventFilter(QObject* receiver, QEvent* event) {
    if (attached.isEmpty() || !receiver->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(receiver);
    switch (event->type()) {
        case QEvent::KeyPress:
            return OnKey(widget, static_cast<QKeyEvent*>(event));
        case QEvent::FocusOut:
            OnFocusOut(widget);
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress: {
            const QPointF pos = static_cast<QMouseEvent*>(event)->globalPosition();
            OnPointer(widget, &pos);
            break;
        }
        case QEvent::Wheel: {
            const QPointF pos = static_cast<QWheelEvent*>(event)->globalPosition();
            OnPointer(widget, &pos);
            break;
        }
        case QEvent::Scroll:
            OnPointer(widget, nullptr);
            break;
        default:
            break;
    }
    return false;
}

bool MsgHookFilter::OnKey(QWidget* receiver, QKeyEvent* key) {
    for (CMsgHook* hook : QList<CMsgHook*>(attached)) {
        if (!hook->Contains(receiver)) continue;
        // The drop-down takes its own Enter and Escape. A list closes on the
        // shortcut check that comes before the key itself, so the key then
        // still arrives in the list's own window, after it closed.
        if (hook->DropDownOpen() || receiver->window() != hook->Watched()->window()) return false;
        if (IsEnter(key->key()) || key->key() == Qt::Key_Escape) {
            hook->Notify(key->key() != Qt::Key_Escape);
            return true;
        }
        if (IsTab(*key)) {
            hook->ForwardKey(*key);
            return true;
        }
        return false;
    }
    return false;
}

// By the time the old focus widget hears of it, the application already
// names the new one (null when the window itself lost the focus).
void MsgHookFilter::OnFocusOut(QWidget* receiver) {
    const QWidget* next = QApplication::focusWidget();
    for (CMsgHook* hook : QList<CMsgHook*>(attached)) {
        if (!attached.contains(hook) || !hook->Contains(receiver)) continue;
        if (hook->Contains(next) || hook->DropDownOpen()) continue;
        hook->Notify(true);
    }
}

// A press the editor ignored travels on to its parents, the grid's viewport
// among them; its position still lies over the editor, so it is not a press
// outside.
void MsgHookFilter::OnPointer(QWidget* receiver, const QPointF* globalPos) {
    for (CMsgHook* hook : QList<CMsgHook*>(attached)) {
        if (!attached.contains(hook)) continue;  // its grid ended it meanwhile
        const QWidget* editor = hook->Watched();
        if (editor == nullptr || hook->Contains(receiver) || hook->DropDownOpen()) continue;
        if (globalPos != nullptr && editor->isVisible() && receiver->window() == editor->window()) {
            const QRect area(editor->mapToGlobal(QPoint(0, 0)), editor->size());
            if (area.contains(globalPos->toPoint())) continue;
        }
        hook->Notify(true);
    }
}

CMsgHook::CMsgHook() {
    if (liveObservers++ == 0 && QCoreApplication::instance() != nullptr) {
        filter = new MsgHookFilter;
        QCoreApplication::instance()->installEventFilter(filter);
    }
}

CMsgHook::~CMsgHook() {
    Detach();
    if (--liveObservers == 0 && filter != nullptr) {
        if (QCoreApplication::instance() != nullptr) {
            QCoreApplication::instance()->removeEventFilter(filter);
        }
        delete filter;
        filter = nullptr;
    }
}

bool CMsgHook::Attach(QWidget* watched, QObject* notify) {
    if (watched == nullptr || notify == nullptr) return false;
    Detach();
    watched_ = watched;
    notify_ = notify;
    watchedGone_ = QObject::connect(watched, &QObject::destroyed, [this] { Detach(); });
    attached.append(this);
    return true;
}

bool CMsgHook::Detach() {
    const bool watching = attached.removeAll(this) > 0;
    QObject::disconnect(watchedGone_);
    watched_ = nullptr;
    notify_ = nullptr;
    return watching;
}

bool CMsgHook::DropDownOpen() const {
    if (watched_ == nullptr) return false;
    // Combo box lists and calendars are popup windows whose parent is their
    // control, so an open one is the application's active popup.
    const QWidget* popup = QApplication::activePopupWidget();
    return popup != nullptr && Contains(popup);
}

int CMsgHook::LiveCount() {
    return liveObservers;
}

bool CMsgHook::Contains(const QWidget* widget) const {
    return watched_ != nullptr && IsWithin(widget, watched_);
}

void CMsgHook::Notify(bool update) const {
    if (notify_ == nullptr) return;
    CEndEditEvent end(update);
    QCoreApplication::sendEvent(notify_, &end);
}

void CMsgHook::ForwardKey(const QKeyEvent& key) const {
    if (notify_ == nullptr) return;
    QKeyEvent copy(key.type(), key.key(), key.modifiers(), key.text(), key.isAutoRepeat(),
                   static_cast<quint16>(key.count()));
    QCoreApplication::sendEvent(notify_, &copy);
}

}  // namespace pelmora
