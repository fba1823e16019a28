// The editable grid: which editor a cell gets, what ends an edit and what it
// writes, the Tab walk, colours and the row records.
#include "ListCtrlEx.h"
#include "MsgHook.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QVBoxLayout>

#include <vector>

namespace pelmora {
namespace {

// What a callback saw, and what the end callback answers.
struct CallbackLog {
    int calls = 0;
    QString text;
    bool update = false;
    int row = -2;
    int answer = 1;
};

EditorCallback Recorder(CallbackLog& log, const QString& replacement = {}) {
    return [&log, replacement](QWidget*&, int row, int, QString& text, quintptr, CListCtrlEx&,
                               bool update) {
        ++log.calls;
        log.text = text;
        log.update = update;
        log.row = row;
        if (!replacement.isNull()) text = replacement;
        return log.answer;
    };
}

class ListCtrlExTest : public ::testing::Test {
  protected:
    ListCtrlExTest() {
        auto* layout = new QVBoxLayout(&window_);
        grid_ = new CListCtrlEx;
        other_ = new QLineEdit;
        layout->addWidget(grid_);
        layout->addWidget(other_);
        for (QWidget* editor : Editors()) {
            editor->setParent(&window_);
            editor->hide();
        }
        combo_->setEditable(true);
        combo_->addItems({"1", "2", "3"});
        // The settings page's layout: labels read-only, values editable.
        grid_->InsertColumn(0, "label", 80);
        grid_->InsertColumn(1, "value", 120);
        grid_->InsertColumn(2, "label", 80);
        grid_->InsertColumn(3, "value", 120);
        for (int row = 0; row < 3; ++row) {
            grid_->InsertRow(row, QString("L%1").arg(row));
            grid_->SetItemText(row, 1, QString("v%1").arg(row));
            grid_->SetItemText(row, 3, QString("w%1").arg(row));
        }
        window_.resize(600, 300);
        window_.show();
        window_.activateWindow();
        QApplication::processEvents();
    }

    void MarkLabelsReadOnly() {
        grid_->SetColumnReadOnly(0, true);
        grid_->SetColumnReadOnly(2, true);
    }

    static void Key(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(target, &press);
    }

    static void Mouse(QEvent::Type type, QWidget* target, QPoint at) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    static void Press(QWidget* target, QPoint at) { Mouse(QEvent::MouseButtonPress, target, at); }

    void DoubleClick(int row, int column) {
        const QPoint at = grid_->visualRect(grid_->model()->index(row, column)).center();
        for (QEvent::Type type :
             {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick}) {
            Mouse(type, grid_->viewport(), at);
        }
    }

    std::vector<QWidget*> Editors() const {
        return {defaultEditor_, lineEditor_, rowEditor_, cellEditor_, combo_};
    }

    // The editor the grid put over the cell, or null.
    QWidget* Open(int row, int column) {
        if (!grid_->DisplayEditor(row, column)) return nullptr;
        for (QWidget* editor : Editors()) {
            if (editor->isVisible()) return editor;
        }
        return nullptr;
    }

    QWidget window_;
    CListCtrlEx* grid_;
    QLineEdit* other_;
    QLineEdit* defaultEditor_ = new QLineEdit;
    QLineEdit* lineEditor_ = new QLineEdit;
    QLineEdit* rowEditor_ = new QLineEdit;
    QLineEdit* cellEditor_ = new QLineEdit;
    QComboBox* combo_ = new QComboBox;
};

TEST_F(ListCtrlExTest, NearerLevelsWinTheEditor) {
    EXPECT_FALSE(grid_->DisplayEditor(0, 1));  // no editor at any level yet
    EXPECT_EQ(grid_->EditedCell(), QPoint(-1, -1));
    grid_->SetDefaultEditor(defaultEditor_);
    grid_->SetColumnEditor(1, lineEditor_);
    grid_->SetRowEditor(2, rowEditor_);
    grid_->SetCellEditor(2, 1, cellEditor_);
    EXPECT_EQ(Open(0, 0), defaultEditor_);
    EXPECT_EQ(Open(0, 1), lineEditor_);
    EXPECT_EQ(Open(2, 3), rowEditor_);
    EXPECT_EQ(Open(2, 1), cellEditor_);
    EXPECT_EQ(grid_->EditedCell(), QPoint(1, 2));
    // Only one editor is ever up: each open committed the one before.
    EXPECT_FALSE(rowEditor_->isVisible());
    EXPECT_EQ(cellEditor_->parentWidget(), grid_->viewport());
    EXPECT_EQ(cellEditor_->text(), "v2");
}

TEST_F(ListCtrlExTest, InitCallbackSeesTheTextAndMayPickTheEditor) {
    CallbackLog init;
    QLineEdit* picked = lineEditor_;
    grid_->SetColumnEditor(
        1, nullptr,
        [&](QWidget*& editor, int row, int, QString& text, quintptr, CListCtrlEx&, bool update) {
            ++init.calls;
            init.text = text;
            init.update = update;
            init.row = row;
            editor = picked;
            return 0;
        });
    lineEditor_->setText("left alone");
    EXPECT_EQ(Open(1, 1), lineEditor_);
    EXPECT_EQ(init.text, "v1");
    EXPECT_TRUE(init.update);
    // With an init callback, filling the editor is the callback's business.
    EXPECT_EQ(lineEditor_->text(), "left alone");

    picked = nullptr;
    EXPECT_FALSE(grid_->DisplayEditor(0, 1));
    EXPECT_EQ(init.calls, 2);
    EXPECT_FALSE(grid_->IsEditing());
}

TEST_F(ListCtrlExTest, ReadOnlyAtAnyLevelBlocksTheEdit) {
    grid_->SetDefaultEditor(defaultEditor_);
    MarkLabelsReadOnly();
    // A cell with its own editor and a clear flag in a read-only column.
    grid_->SetCellEditor(1, 0, cellEditor_);
    grid_->SetCellReadOnly(1, 0, false);
    EXPECT_TRUE(grid_->IsCellReadOnly(1, 0));
    EXPECT_FALSE(grid_->DisplayEditor(1, 0));

    grid_->SetRowEditor(2, rowEditor_);
    grid_->SetRowReadOnly(2, true);
    EXPECT_FALSE(grid_->DisplayEditor(2, 1));

    grid_->SetCellReadOnly(0, 1, true);
    EXPECT_FALSE(grid_->DisplayEditor(0, 1));
    EXPECT_EQ(Open(0, 3), defaultEditor_);
}

TEST_F(ListCtrlExTest, DoubleClickOnAnotherCellCommitsTheFirstEdit) {
    grid_->SetDefaultEditor(defaultEditor_);
    DoubleClick(0, 1);
    ASSERT_EQ(grid_->EditedCell(), QPoint(1, 0));
    defaultEditor_->setText("typed");
    DoubleClick(1, 3);
    EXPECT_EQ(grid_->ItemText(0, 1), "typed");
    EXPECT_EQ(grid_->EditedCell(), QPoint(3, 1));
    EXPECT_EQ(defaultEditor_->text(), "w1");
}

TEST_F(ListCtrlExTest, EnterCommitsAndEscapeCancels) {
    grid_->SetDefaultEditor(defaultEditor_);
    ASSERT_EQ(Open(0, 1), defaultEditor_);
    defaultEditor_->setText("kept");
    Key(defaultEditor_, Qt::Key_Return);
    EXPECT_FALSE(grid_->IsEditing());
    EXPECT_FALSE(defaultEditor_->isVisible());
    EXPECT_EQ(grid_->ItemText(0, 1), "kept");

    ASSERT_EQ(Open(1, 1), defaultEditor_);
    defaultEditor_->setText("dropped");
    Key(defaultEditor_, Qt::Key_Escape);
    EXPECT_FALSE(grid_->IsEditing());
    EXPECT_EQ(grid_->ItemText(1, 1), "v1");
}

TEST_F(ListCtrlExTest, EndCallbackDecidesACommitAndIsToldOfAnEscape) {
    CallbackLog end;
    grid_->SetColumnEditor(1, lineEditor_, {}, Recorder(end, "from callback"));
    ASSERT_EQ(Open(2, 1), lineEditor_);
    lineEditor_->setText("typed");
    Key(lineEditor_, Qt::Key_Escape);
    EXPECT_EQ(end.calls, 1);
    EXPECT_FALSE(end.update);
    EXPECT_EQ(end.text, "v2");               // preloaded with the cell, not the editor
    EXPECT_EQ(grid_->ItemText(2, 1), "v2");  // an escape writes nothing

    end.answer = 0;
    ASSERT_EQ(Open(1, 1), lineEditor_);
    Key(lineEditor_, Qt::Key_Enter);
    EXPECT_TRUE(end.update);
    EXPECT_EQ(grid_->ItemText(1, 1), "v1");
}

TEST_F(ListCtrlExTest, PressOrFocusOutsideCommits) {
    grid_->SetDefaultEditor(defaultEditor_);
    ASSERT_EQ(Open(0, 1), defaultEditor_);
    defaultEditor_->setText("by click");
    // A press inside the editor is typing, not leaving.
    Press(defaultEditor_, QPoint(3, 3));
    ASSERT_TRUE(grid_->IsEditing());
    Press(other_, QPoint(3, 3));
    EXPECT_FALSE(grid_->IsEditing());
    EXPECT_EQ(grid_->ItemText(0, 1), "by click");

    if (QApplication::focusWidget() == nullptr) GTEST_SKIP() << "platform gives no focus";
    ASSERT_EQ(Open(1, 1), defaultEditor_);
    ASSERT_TRUE(defaultEditor_->hasFocus());
    defaultEditor_->setText("by focus");
    other_->setFocus(Qt::MouseFocusReason);
    EXPECT_FALSE(grid_->IsEditing());
    EXPECT_EQ(grid_->ItemText(1, 1), "by focus");
}

TEST_F(ListCtrlExTest, OpenComboListKeepsTheEditOpen) {
    grid_->SetColumnEditor(1, combo_);
    ASSERT_EQ(Open(1, 1), combo_);
    EXPECT_EQ(combo_->currentText(), "v1");
    combo_->showPopup();
    ASSERT_TRUE(combo_->view()->isVisible());
    QWidget* list = combo_->view()->viewport();
    Press(list, combo_->view()->visualRect(combo_->model()->index(2, 0)).center());
    EXPECT_TRUE(grid_->IsEditing());
    Key(combo_->view(), Qt::Key_Escape);
    EXPECT_TRUE(grid_->IsEditing());

    combo_->hidePopup();
    combo_->setCurrentIndex(2);
    Key(combo_, Qt::Key_Return);
    EXPECT_FALSE(grid_->IsEditing());
    EXPECT_EQ(grid_->ItemText(1, 1), "3");
}

TEST_F(ListCtrlExTest, TabWalksEditableCellsAndLeavesAfterTheLast) {
    grid_->SetDefaultEditor(defaultEditor_);
    MarkLabelsReadOnly();
    grid_->SetCellReadOnly(1, 1, true);
    grid_->setFocus();
    Key(grid_, Qt::Key_Tab);
    EXPECT_EQ(grid_->EditedCell(), QPoint(1, 0));
    auto name = [](QPoint cell) { return QString("t%1%2").arg(cell.y()).arg(cell.x()); };
    const QPoint expected[] = {{3, 0}, {3, 1}, {1, 2}, {3, 2}, {-1, -1}};
    for (const QPoint& next : expected) {
        const QPoint cell = grid_->EditedCell();
        defaultEditor_->setText(name(cell));
        Key(defaultEditor_, Qt::Key_Tab);
        EXPECT_EQ(grid_->EditedCell(), next);
        EXPECT_EQ(grid_->ItemText(cell.y(), cell.x()), name(cell));  // committed on leaving
    }
    EXPECT_FALSE(grid_->IsEditing());
    EXPECT_EQ(grid_->RowCount(), 3);
    if (QApplication::focusWidget() != nullptr) {
        EXPECT_EQ(QApplication::focusWidget(), other_);
    }

    // Back in from nowhere, Shift+Tab starts at the last cell.
    Key(grid_, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(grid_->EditedCell(), QPoint(3, 2));
    Key(defaultEditor_, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(grid_->EditedCell(), QPoint(1, 2));
}

TEST_F(ListCtrlExTest, TabPastTheEndAsksForANewRowOnlyWhenAppending) {
    struct Appending final : CListCtrlEx {
        bool AddNewRow() override {
            ++asked;
            InsertRow(RowCount(), "new");
            return true;
        }
        int asked = 0;
    } grid;
    QLineEdit editor;
    grid.InsertColumn(0, "a", 50);
    grid.SetDefaultEditor(&editor);
    Key(&grid, Qt::Key_Tab);  // empty grid: asked regardless
    EXPECT_EQ(grid.asked, 1);
    EXPECT_EQ(grid.EditedCell(), QPoint(0, 0));
    Key(&editor, Qt::Key_Tab);
    EXPECT_EQ(grid.asked, 1);
    EXPECT_FALSE(grid.IsEditing());
    grid.SetAppendRowOnTab(true);
    Key(&grid, Qt::Key_Tab);
    Key(&editor, Qt::Key_Tab);
    EXPECT_EQ(grid.asked, 2);
    EXPECT_EQ(grid.EditedCell(), QPoint(0, 1));
}

TEST_F(ListCtrlExTest, ColourLevelsFallBackPerComponentToTheDefault) {
    const QColor defaultBack = grid_->EffectiveBackground(0, 1);
    const QColor defaultText = grid_->EffectiveTextColor(0, 1);
    const QColor grey(0xF0, 0xF0, 0xF0), red(Qt::red), yellow(Qt::yellow);
    grid_->SetColumnColors(0, grey, Qt::black);
    grid_->SetRowColors(1, QColor(), red);
    grid_->SetCellColors(1, 1, yellow, QColor());

    EXPECT_EQ(grid_->EffectiveBackground(0, 0), grey);
    EXPECT_EQ(grid_->EffectiveTextColor(0, 0), QColor(Qt::black));
    // The row's colour beats the column, background and all.
    EXPECT_EQ(grid_->EffectiveBackground(1, 0), defaultBack);
    EXPECT_EQ(grid_->EffectiveTextColor(1, 0), red);
    EXPECT_EQ(grid_->EffectiveBackground(1, 1), yellow);
    EXPECT_EQ(grid_->EffectiveTextColor(1, 1), defaultText);
    EXPECT_EQ(grid_->EffectiveBackground(9, 0), defaultBack);

    const QImage shot = grid_->viewport()->grab().toImage();
    const QRect cell = grid_->visualRect(grid_->model()->index(1, 1));
    EXPECT_EQ(shot.pixelColor(cell.topLeft() + QPoint(2, 2)), yellow);
    const QRect label = grid_->visualRect(grid_->model()->index(2, 0));
    EXPECT_EQ(shot.pixelColor(label.topLeft() + QPoint(2, 2)), grey);
}

TEST_F(ListCtrlExTest, RowRecordsGoWithTheirRows) {
    grid_->SetDefaultEditor(defaultEditor_);
    for (int row = 0; row < 3; ++row) grid_->SetItemData(row, 10 * (row + 1));
    grid_->SetRowEditor(1, rowEditor_);
    EXPECT_TRUE(grid_->DeleteRow(1));
    EXPECT_FALSE(grid_->DeleteRow(2));
    EXPECT_EQ(grid_->ItemData(1), 30u);
    EXPECT_EQ(grid_->ItemText(1, 0), "L2");
    EXPECT_EQ(Open(1, 1), defaultEditor_);

    grid_->DeleteAllItems();
    EXPECT_EQ(grid_->RowCount(), 0);
    EXPECT_EQ(grid_->EditedCell(), QPoint(-1, -1));
    EXPECT_EQ(grid_->InsertRow(5, "again"), 0);
    EXPECT_EQ(grid_->ItemData(0), 0u);
    EXPECT_EQ(Open(0, 1), defaultEditor_);
}

TEST_F(ListCtrlExTest, ClosingAnEditWhoseRowWentWritesNothing) {
    CallbackLog end;
    grid_->SetColumnEditor(1, lineEditor_, {}, Recorder(end, "late"));
    ASSERT_EQ(Open(1, 1), lineEditor_);
    grid_->DeleteRow(1);
    grid_->InsertRow(1, "newcomer");
    Key(lineEditor_, Qt::Key_Return);
    EXPECT_EQ(end.calls, 1);
    EXPECT_FALSE(end.update);
    EXPECT_EQ(end.row, -1);
    for (int row = 0; row < grid_->RowCount(); ++row) EXPECT_NE(grid_->ItemText(row, 1), "late");
}

TEST_F(ListCtrlExTest, DeleteKeyRemovesSelectedRowsOnlyWhenEnabled) {
    grid_->selectRow(0);
    Key(grid_, Qt::Key_Delete);
    EXPECT_EQ(grid_->RowCount(), 3);
    grid_->SetDeleteKeyEnabled(true);
    for (int row : {0, 2}) {
        grid_->selectionModel()->select(grid_->model()->index(row, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    Key(grid_, Qt::Key_Delete);
    ASSERT_EQ(grid_->RowCount(), 1);
    EXPECT_EQ(grid_->ItemText(0, 0), "L1");
}

TEST_F(ListCtrlExTest, SortsOnlyFlaggedColumnsAndMovesRecordsAlong) {
    const QString values[] = {"10", "9", "-3"};
    for (int row = 0; row < 3; ++row) {
        grid_->SetItemText(row, 1, values[row]);
        grid_->SetItemData(row, row + 1);
    }
    emit grid_->horizontalHeader()->sectionClicked(1);
    EXPECT_EQ(grid_->ItemText(0, 1), "10");

    grid_->SetColumnSort(1, 4, 1);
    emit grid_->horizontalHeader()->sectionClicked(1);
    EXPECT_EQ(grid_->ItemText(0, 1), "-3");
    EXPECT_EQ(grid_->ItemText(2, 1), "10");
    EXPECT_EQ(grid_->ItemData(0), 3u);
    EXPECT_EQ(grid_->ItemText(0, 0), "L2");
    emit grid_->horizontalHeader()->sectionClicked(1);
    EXPECT_EQ(grid_->ItemText(0, 1), "10");

    // An end callback answering -1 re-sorts by the edited column.
    CallbackLog end;
    end.answer = -1;
    grid_->SetColumnEditor(1, lineEditor_, {}, Recorder(end, "100"));
    ASSERT_EQ(Open(2, 1), lineEditor_);
    grid_->HideEditor(true);
    EXPECT_EQ(grid_->ItemText(0, 1), "100");
}

TEST_F(ListCtrlExTest, OutOfRangeCallsAreHarmless) {
    for (int bad : {-1, 99}) {
        grid_->SetItemText(bad, 0, "x");
        grid_->SetItemText(0, bad, "x");
        grid_->SetItemData(bad, 7);
        grid_->SetColumnEditor(bad, lineEditor_);
        grid_->SetRowEditor(bad, lineEditor_);
        grid_->SetCellEditor(bad, bad, lineEditor_);
        grid_->SetColumnReadOnly(bad, true);
        grid_->SetRowReadOnly(bad, true);
        grid_->SetCellReadOnly(0, bad, true);
        grid_->SetColumnColors(bad, Qt::red, Qt::red);
        grid_->SetRowColors(bad, Qt::red, Qt::red);
        grid_->SetCellColors(bad, 0, Qt::red, Qt::red);
        grid_->SetColumnSort(bad, 1, 1);
        EXPECT_TRUE(grid_->ItemText(bad, 0).isEmpty());
        EXPECT_EQ(grid_->ItemData(bad), 0u);
        EXPECT_FALSE(grid_->IsCellReadOnly(bad, 0));
        EXPECT_FALSE(grid_->DisplayEditor(bad, 1));
        EXPECT_FALSE(grid_->DisplayEditor(1, bad));
        EXPECT_FALSE(grid_->DeleteRow(bad));
        emit grid_->horizontalHeader()->sectionClicked(bad);
    }
    EXPECT_EQ(grid_->InsertRow(-1, "x"), -1);
    EXPECT_EQ(grid_->InsertColumn(-1, "x", 10), -1);
    grid_->HideEditor(true);
    EXPECT_FALSE(grid_->IsEditing());
    grid_->SetDefaultEditor(defaultEditor_);
    EXPECT_EQ(Open(0, 1), defaultEditor_);  // nothing above reached the records
    grid_->DeleteAllColumns();
    EXPECT_EQ(grid_->ColumnCount(), 0);
    Key(defaultEditor_, Qt::Key_Return);
    EXPECT_FALSE(grid_->IsEditing());
    Key(grid_, Qt::Key_Tab);
}

TEST_F(ListCtrlExTest, EditorsOutliveTheGridAndTheHookFollowsTheGrids) {
    const int before = CMsgHook::LiveCount();
    {
        CListCtrlEx second;
        EXPECT_EQ(CMsgHook::LiveCount(), before + 1);
        second.InsertColumn(0, "a", 50);
        second.InsertRow(0, "x");
        second.SetDefaultEditor(lineEditor_);
        ASSERT_TRUE(second.DisplayEditor(0, 0));
        EXPECT_EQ(lineEditor_->parentWidget(), second.viewport());
    }
    EXPECT_EQ(CMsgHook::LiveCount(), before);
    EXPECT_EQ(lineEditor_->parentWidget(), &window_);
    EXPECT_FALSE(lineEditor_->isVisible());
}

}  // namespace
}  // namespace pelmora
