// The fixed splitter: its bar stays where the program puts it.
#include "MySplitterWnd.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

namespace pelmora {
namespace {

// Two panes side by side, shown, 400 pixels wide.
void Populate(QSplitter& splitter) {
    splitter.addWidget(new QWidget);
    splitter.addWidget(new QWidget);
    splitter.resize(400, 200);
    splitter.setSizes({200, 200});
    splitter.show();
    QApplication::processEvents();
}

// Presses the left button on the bar, drags it `dx` pixels and lets go.
void DragBar(QSplitter& splitter, int dx) {
    QSplitterHandle* bar = splitter.handle(1);
    const QPoint from = bar->rect().center();
    const QPoint to = from + QPoint(dx, 0);
    QMouseEvent press(QEvent::MouseButtonPress, from, bar->mapToGlobal(from), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &press);
    QMouseEvent move(QEvent::MouseMove, to, bar->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, bar->mapToGlobal(to), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &release);
    QApplication::processEvents();
}

TEST(MySplitterWndTest, DraggingTheBarMovesNothing) {
    // The same drag moves an ordinary splitter's bar, so the events do reach it.
    QSplitter ordinary(Qt::Horizontal);
    Populate(ordinary);
    const QList<int> before = ordinary.sizes();
    DragBar(ordinary, 80);
    ASSERT_NE(ordinary.sizes(), before);

    CMySplitterWnd fixed(Qt::Horizontal);
    Populate(fixed);
    const QList<int> sizes = fixed.sizes();
    DragBar(fixed, 80);
    EXPECT_EQ(fixed.sizes(), sizes);
    DragBar(fixed, -80);
    EXPECT_EQ(fixed.sizes(), sizes);
}

TEST(MySplitterWndTest, TheBarShowsTheArrowInEitherOrientation) {
    CMySplitterWnd splitter(Qt::Horizontal);
    Populate(splitter);
    EXPECT_EQ(splitter.handle(1)->cursor().shape(), Qt::ArrowCursor);
    splitter.setOrientation(Qt::Vertical);
    EXPECT_EQ(splitter.handle(1)->cursor().shape(), Qt::ArrowCursor);
}

}  // namespace
}  // namespace pelmora
