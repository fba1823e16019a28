#include "WindowTitle.h"

#include <QWidget>

namespace pelmora {

WindowTitle::WindowTitle(QWidget& window, QString base) : window_(window), base_(std::move(base)) {
    Show();
}

void WindowTitle::SetDrill(bool on) {
    drill_ = on;
    Show();
}

void WindowTitle::SetUnseen(int count) {
    unseen_ = count;
    Show();
}

QString WindowTitle::Text() const {
    QString text = unseen_ > 0 ? QStringLiteral("(%1) ").arg(unseen_) : QString();
    text += base_;
    if (drill_) text += QStringLiteral(" [演练模式]");
    return text;
}

void WindowTitle::Show() {
    const QString text = Text();
    if (window_.windowTitle() != text) window_.setWindowTitle(text);
}

}  // namespace pelmora
