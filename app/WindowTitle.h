// The main window's title, made in one place from its parts: the count of
// changes the operator has not seen ("(3) " in front), the program's name
// and version, and the drill mark behind it.
#pragma once

#include <QString>

class QWidget;

namespace pelmora {

class WindowTitle final {
  public:
    WindowTitle(QWidget& window, QString base);

    void SetDrill(bool on);
    void SetUnseen(int count);
    QString Text() const;
    QWidget& Window() const { return window_; }

  private:
    void Show();

    QWidget& window_;
    const QString base_;
    bool drill_ = false;
    int unseen_ = 0;
};

}  // namespace pelmora
