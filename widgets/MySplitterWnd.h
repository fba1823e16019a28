// The splitter between the left pane and the right side: its panes keep the
// sizes the program gives them, so its bar neither moves under the mouse nor
// shows a resize cursor.
#pragma once

#include <QSplitter>

namespace pelmora {

class CMySplitterWnd final : public QSplitter {
    Q_OBJECT
  public:
    explicit CMySplitterWnd(QWidget* parent = nullptr);
    explicit CMySplitterWnd(Qt::Orientation orientation, QWidget* parent = nullptr);

  protected:
    QSplitterHandle* createHandle() override;
};

}  // namespace pelmora
