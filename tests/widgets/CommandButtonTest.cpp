// The left pane's button knows when the mouse is over it.
#include "CommandButton.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>

namespace pelmora {
namespace {

class CommandButtonTest : public ::testing::Test {
  protected:
    CommandButtonTest() : button_("设备列表") {
        button_.resize(120, 40);
        button_.show();
        QApplication::processEvents();
    }

    // The pointer of the test platform may well sit over the new window, so
    // every test starts from a leave.
    void SetUp() override { Leave(); }

    void Enter() {
        const QPoint inside(10, 10);
        QEnterEvent enter(inside, inside, button_.mapToGlobal(inside));
        QApplication::sendEvent(&button_, &enter);
    }

    void Leave() {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&button_, &leave);
    }

    void Move(QPoint to, Qt::MouseButtons held) {
        QMouseEvent move(QEvent::MouseMove, to, button_.mapToGlobal(to), Qt::NoButton, held,
                         Qt::NoModifier);
        QApplication::sendEvent(&button_, &move);
    }

    CCommandButtom button_;
};

TEST_F(CommandButtonTest, HoverFollowsEnterAndLeave) {
    EXPECT_FALSE(button_.IsHovering());
    Enter();
    EXPECT_TRUE(button_.IsHovering());
    Leave();
    EXPECT_FALSE(button_.IsHovering());
}

TEST_F(CommandButtonTest, MovesSetItInsideAndClearItOutside) {
    ASSERT_FALSE(button_.IsHovering());
    Move(QPoint(60, 20), Qt::NoButton);
    EXPECT_TRUE(button_.IsHovering());
    // With the button held the mouse stays grabbed and moves come from outside.
    Move(QPoint(200, 20), Qt::LeftButton);
    EXPECT_FALSE(button_.IsHovering());
    Move(QPoint(5, 5), Qt::LeftButton);
    EXPECT_TRUE(button_.IsHovering());
}

}  // namespace
}  // namespace pelmora
