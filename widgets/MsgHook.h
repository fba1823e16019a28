// Ends an in-place edit when the operator leaves the editor. One observer
// watches one editor on behalf of one window (the grid that opened it) and
// tells that window when the edit is over by sending it a CEndEditEvent:
//   - Enter in the editor commits, Escape cancels;
//   - focus moving to a widget outside the editor commits;
//   - a mouse press, wheel turn or scroll outside the editor commits;
//   - Tab and Shift+Tab in the editor are handed on to the notified window
//     as they are, so that it can move to the next cell.
// While the editor's drop-down (a combo box list, a date picker's calendar)
// is showing, nothing ends the edit: that popup counts as part of the editor.
//
// All observers share one application-wide event filter, installed with the
// first observer and removed with the last. Interface thread only.
#pragma once

#include <QEvent>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>

class QKeyEvent;

namespace pelmora {

inline constexpr QEvent::Type kEndEditEvent = static_cast<QEvent::Type>(QEvent::User + 10);

class CEndEditEvent final : public QEvent {
  public:
    // update: true commits the editor's text, false cancels.
    explicit CEndEditEvent(bool update) : QEvent(kEndEditEvent), update_(update) {}
    bool Update() const { return update_; }

  private:
    bool update_;
};

class CMsgHook final {
  public:
    CMsgHook();
    ~CMsgHook();
    CMsgHook(const CMsgHook&) = delete;
    CMsgHook& operator=(const CMsgHook&) = delete;

    // False unless both exist; otherwise any earlier editor is let go first.
    bool Attach(QWidget* watched, QObject* notify);
    // False when nothing was being watched (also after the editor died).
    bool Detach();
    bool IsWatching() const { return watched_ != nullptr; }
    QWidget* Watched() const { return watched_; }

    // Whether the watched editor's drop-down list or calendar is showing.
    bool DropDownOpen() const;

    // Observers alive in the process; the filter is installed while > 0.
    static int LiveCount();

  private:
    friend class MsgHookFilter;

    // Whether `widget` is the editor, a child of it or one of its popups.
    bool Contains(const QWidget* widget) const;
    void Notify(bool update) const;
    void ForwardKey(const QKeyEvent& key) const;

    QPointer<QWidget> watched_;
    QPointer<QObject> notify_;
    QMetaObject::Connection watchedGone_;
};

}  // namespace pelmora
