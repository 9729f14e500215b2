// Leave, enter and container rules and the focus sink: when they run, that
// they run once, and that a rule's own message box or focus return never
// triggers another rule.
#include <gtest/gtest.h>

#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>

#include "gui/mainwindow/focusrules.h"
#include "guitest.h"

namespace {

// A window with three fields (a and b inside a group, c outside), a label on
// the bare surface and a focus sink; every rule counts its runs.
class Rules : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(300, 200);
        group->setGeometry(0, 0, 150, 100);
        a->setGeometry(10, 20, 60, 20);
        b->setGeometry(10, 50, 60, 20);
        c->setGeometry(160, 20, 60, 20);
        label->setGeometry(160, 150, 60, 20);
        sink->setGeometry(0, 190, 0, 10);
        rules->setSink(sink);
        rules->watchSurface(&window);
        for (QLineEdit* field : {a, b, c}) rules->onLeave(field, [this](QObject* s) { ++leaves[s]; onLeave(s); });
        rules->onEnter(c, [this](QObject*) { ++entersC; });
        rules->onContainerLeave(group, [this](QObject*) { ++groupLeaves; });
        ASSERT_TRUE(showActive(window));
        a->setFocus();
        QApplication::processEvents();
        leaves.clear();
        entersC = 0;
    }

    // Runs the queued rules, as the event loop does right after the focus change.
    static void settle() { QApplication::processEvents(); }

    void moveMouse(QWidget* over, QPoint at) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), over->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(over, &move);
    }

    QWidget window;
    QGroupBox* group = new QGroupBox(&window);
    QLineEdit* a = new QLineEdit(group);
    QLineEdit* b = new QLineEdit(group);
    QLineEdit* c = new QLineEdit(&window);
    QLabel* label = new QLabel("label", &window);
    QLineEdit* sink = new QLineEdit(&window);
    FocusRules* rules = new FocusRules(&window);
    std::map<QObject*, int> leaves;
    int entersC = 0;
    int groupLeaves = 0;
    std::function<void(QObject*)> onLeave = [](QObject*) {};
};

TEST_F(Rules, LeavingAFieldRunsItsRuleOnceAfterTheMove) {
    b->setFocus();
    EXPECT_EQ(leaves[a], 0) << "the rule waits until the focus change is complete";
    settle();
    EXPECT_EQ(leaves[a], 1);
    EXPECT_EQ(leaves[b], 0);
    EXPECT_EQ(groupLeaves, 0) << "b is inside the same group";
    c->setFocus();
    settle();
    EXPECT_EQ(leaves[b], 1);
    EXPECT_EQ(groupLeaves, 1);
    EXPECT_EQ(entersC, 1);
}

TEST_F(Rules, MouseOverTheBareSurfaceMovesTheFocusToTheSink) {
    moveMouse(&window, QPoint(250, 100));
    EXPECT_EQ(QApplication::focusWidget(), sink);
    EXPECT_EQ(leaves[a], 1) << "the sink runs the rule at once";
    EXPECT_EQ(groupLeaves, 1);
    moveMouse(&window, QPoint(260, 110));
    settle();
    EXPECT_EQ(leaves[a], 1) << "further movement runs nothing again";
}

TEST_F(Rules, MouseOverALabelCountsAsSurfaceButNotOverAField) {
    moveMouse(&window, QPoint(170, 25));  // over field c
    EXPECT_EQ(QApplication::focusWidget(), a);
    moveMouse(&window, QPoint(170, 155));  // over the label
    EXPECT_EQ(QApplication::focusWidget(), sink);
}

TEST_F(Rules, ARuleSendingTheFocusBackKeepsTheOperatorInTheField) {
    onLeave = [this](QObject* s) {
        if (s == a) a->setFocus();
    };
    c->setFocus();
    settle();
    EXPECT_EQ(QApplication::focusWidget(), a);
    EXPECT_EQ(leaves[a], 1);
    EXPECT_EQ(leaves[c], 0) << "the field that briefly had the focus was never really entered";
    EXPECT_EQ(entersC, 0);
    EXPECT_EQ(groupLeaves, 0);
    c->setFocus();  // leaving again repeats the check
    settle();
    EXPECT_EQ(leaves[a], 2);
}

TEST_F(Rules, AMessageBoxFromARuleDoesNotRunItAgain) {
    onLeave = [this](QObject* s) {
        if (s != a) return;
        QTimer::singleShot(0, [] {
            if (QWidget* box = QApplication::activeModalWidget()) box->close();
        });
        QMessageBox box(QMessageBox::Critical, "Warning!", "text", QMessageBox::Ok, &window);
        box.exec();
        a->setFocus();
    };
    b->setFocus();
    settle();
    settle();
    EXPECT_EQ(leaves[a], 1);
    EXPECT_EQ(leaves[b], 0);
    EXPECT_EQ(window.focusWidget(), a);
}

// A context menu or a list's popup takes the keyboard while the field
// stays the window's focus, and Alt hands it to the menu bar: the operator
// has not left the field.
TEST_F(Rules, APopupOrTheMenuBarTakingTheFocusIsNoLeave) {
    QMenu menu;
    menu.addAction("Paste");
    menu.popup(a->mapToGlobal(QPoint(5, 5)));
    settle();
    menu.close();
    settle();
    EXPECT_EQ(leaves[a], 0);
    EXPECT_EQ(QApplication::focusWidget(), a);

    auto* bar = new QMenuBar(&window);
    bar->addMenu("File");
    bar->show();
    bar->setFocus(Qt::MenuBarFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), bar);
    settle();
    EXPECT_EQ(leaves[a], 0);
}

TEST_F(Rules, SinkCommitsEvenWhenTheWindowIsNotActive) {
    QWidget other;
    ASSERT_TRUE(showActive(other));
    rules->moveFocusToSink();
    EXPECT_EQ(leaves[a], 1);
    EXPECT_EQ(window.focusWidget(), sink);
}

// The main window's wiring: the mouse over the selection bar commits the
// field being edited through the focus sink.
TEST(MainWindowFocus, MouseOverSelectionBarMovesTheFocusToEdit1) {
    MainWindowFixture f;
    ASSERT_TRUE(f.active);
    f.form->arrays().edtAddr[2]->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), f.form->arrays().edtAddr[2]);
    QWidget* bar = f.form->GroupBox3;
    const QPoint bare(650, 60);
    ASSERT_EQ(bar->childAt(bare), nullptr);
    QMouseEvent move(QEvent::MouseMove, QPointF(bare), bar->mapToGlobal(QPointF(bare)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    EXPECT_EQ(QApplication::focusWidget(), f.form->Edit1);
}

}  // namespace
