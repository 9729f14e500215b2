// The main window as the operator meets it: captions, menus, tool bar, tabs,
// start-up state and the two modes.
#include <gtest/gtest.h>

#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolButton>

#include "gui/mainwindow/typedlength.h"
#include "guitest.h"

namespace {

QStringList texts(const QList<QAction*>& actions) {
    QStringList result;
    for (const QAction* action : actions) result << (action->isSeparator() ? QString("-") : action->text());
    return result;
}

QStringList visibleMenus(const TForm1& form) {
    QStringList result;
    for (const QAction* action : form.menuBar()->actions())
        if (action->isVisible()) result << action->text();
    return result;
}

QStringList items(const QComboBox* list) {
    QStringList result;
    for (int i = 0; i < list->count(); ++i) result << list->itemText(i);
    return result;
}

class MainWindow : public ::testing::Test, protected MainWindowFixture {};

TEST_F(MainWindow, MenusHaveTheirItemsInOrder) {
    ASSERT_TRUE(active);
    EXPECT_EQ(form->windowTitle(), "QM730C  --  Corvane");
    EXPECT_EQ(texts(form->menuBar()->actions()),
              QStringList({"File", "File", "ToFlash", "ToFlash", "Page", "System", "About"}));
    EXPECT_EQ(texts(form->File1->actions()), QStringList({"Open", "Save", "-", "Exit"}));
    EXPECT_EQ(texts(form->File2->actions()), QStringList({"Open"}));
    EXPECT_EQ(texts(form->ToFlash2->actions()), QStringList({"Transfer", "Read"}));
    EXPECT_EQ(texts(form->ToFlash1->actions()), QStringList({"Write"}));
    EXPECT_EQ(texts(form->Page1->actions()), QStringList({"Next - C", "Before -C", "Next -M", "Before - M",
                                                           "Open Config", "Alarm Message"}));
    EXPECT_EQ(texts(form->System1->actions()), QStringList({"Normal Mode", "S29 Mode"}));
    EXPECT_EQ(form->About1->menu(), nullptr);
}

TEST_F(MainWindow, ToolBarButtonsCarryCaptionsAndHints) {
    form->applyLayout(QSize(TForm1::kDesignClientWidth, TForm1::kDesignClientHeight));
    const QStringList captions = {"C", "C", "", "", "", "", "M", "M"};
    const QStringList hints = {"CapCode Before Page", "CapCode Next Page", "Open File",          "Save File",
                               "Transfer Data",       "Read Data ",        "Message Before Page", "Message Next Page"};
    for (int i = 0; i < 8; ++i) {
        const auto* button = child<QToolButton>(*form->ToolBar1, QString("ToolButton%1").arg(i + 1));
        ASSERT_NE(button, nullptr) << i;
        EXPECT_EQ(button->text(), captions[i]);
        EXPECT_EQ(button->toolTip(), hints[i]);
        EXPECT_EQ(button->icon().isNull(), !captions[i].isEmpty()) << i;
        EXPECT_EQ(button->geometry(), QRect(45 * i, button->y(), 45, 22));
    }
}

// The page selectors take their items from the paging rules; the ends show
// the wiring, the items between are the core's business.
TEST_F(MainWindow, SelectionBarListsAndFields) {
    EXPECT_EQ(items(form->cboCapNo).first(), "CapCode#    1 -- 10");
    EXPECT_EQ(items(form->cboCapNo).last(), "CapCode# 100 -- 899");
    EXPECT_EQ(items(form->cboMesNo).first(), "Message#    1  --  10");
    EXPECT_EQ(items(form->cboMesNo).last(), "Message#  91  --  99");
    EXPECT_EQ(items(form->cboComPort), QStringList({"COM 1", "COM 2", "COM 3", "COM 4", "COM 5"}));
    EXPECT_EQ(items(form->cboCSpace), QStringList({"12.5k", "10k"}));
    EXPECT_EQ(form->edtFreq->text(), "4545000");
    QStringList labels;
    for (const QLabel* label : form->GroupBox3->findChildren<QLabel*>()) labels << label->text();
    EXPECT_EQ(labels, QStringList({"CapCode Select", "Message Select", " Port:", "Frequency", "00Hz", "Channel Space"}));

    form->cboComPort->setCurrentIndex(3);
    EXPECT_EQ(form->selectedPort(), 0) << "setting the list from code is no choice";
    emit form->cboComPort->activated(3);
    EXPECT_EQ(form->selectedPort(), 3);
}

TEST_F(MainWindow, StartUpShowsTheDefaultsWithTheDatabaseTabActive) {
    QStringList tabs;
    for (int i = 0; i < form->pacCapMsg->count(); ++i) tabs << form->pacCapMsg->tabText(i);
    EXPECT_EQ(tabs, QStringList({"Config", "Pager DataBase", "PPG Message", "Alarm message"}));
    EXPECT_EQ(form->pacCapMsg->currentWidget(), form->TabSheet1);
    EXPECT_FALSE(form->pacCapMsg->isTabVisible(0));
    EXPECT_FALSE(form->TabSheet2->isEnabled());
    EXPECT_EQ(form->statusText(), " Ready");
    EXPECT_EQ(form->PB1->maximum(), 1000);
    EXPECT_EQ(form->Edit1->width(), 0);
    EXPECT_EQ(QApplication::focusWidget(), form->Edit1);
    EXPECT_TRUE(form->isMaximized());

    const ControlArrays& a = form->arrays();
    EXPECT_EQ(a.edtAddr[9]->text(), "1234569");
    EXPECT_EQ(a.cboFunc[0]->currentText(), "0  0");
    EXPECT_EQ(a.cboType[4]->currentText(), "Alpha");
    EXPECT_EQ(a.cboBaud[9]->currentText(), "1200 bps");
    EXPECT_FALSE(a.edtGroup[0]->isEnabled());
    EXPECT_FALSE(a.chkGroup[0]->isChecked());
    EXPECT_EQ(a.memMsg[0]->toPlainText(), "No.1 ppg message");
    EXPECT_EQ(a.edtPagerID[6]->text(), "107");
    EXPECT_EQ(a.memAMsg[0]->toPlainText(), "Contact 1");
    EXPECT_EQ(a.edtDelay[0]->text(), "111");
    EXPECT_FALSE(a.chkCtl[4]->isVisibleTo(form->GroupBox2));

    // The typed limits: what the field takes from the keyboard.
    const std::pair<QLineEdit*, int> limits[] = {{a.edtGroup[0], 2}, {form->edtFreq, 7}, {form->edtSPass, 7},
                                                 {form->edtFPass, 4}, {form->edtPreamble, 2}};
    for (const auto& [field, limit] : limits) EXPECT_EQ(typedLengthLimit(field), limit) << field->objectName().toStdString();
}

TEST_F(MainWindow, ModeTableAppliesBothWays) {
    const QStringList normalMenus = {"File", "ToFlash", "Page", "System", "About"};
    EXPECT_EQ(form->mode(), OperatingMode::Normal);
    EXPECT_EQ(visibleMenus(*form), normalMenus);
    EXPECT_TRUE(form->NormalMode1->isChecked());
    EXPECT_FALSE(form->StatusBar1->isVisible());
    EXPECT_FALSE(form->PB1->isVisible());

    form->setMode(OperatingMode::S29);
    QApplication::processEvents();
    EXPECT_EQ(visibleMenus(*form), QStringList({"File", "ToFlash", "System", "About"}));
    EXPECT_TRUE(form->File2->menuAction()->isVisible());
    EXPECT_TRUE(form->ToFlash1->menuAction()->isVisible());
    EXPECT_TRUE(form->S29Mode1->isChecked());
    EXPECT_FALSE(form->NormalMode1->isChecked());
    EXPECT_FALSE(form->GroupBox3->isVisible());
    EXPECT_FALSE(form->ToolBar1->isVisible());
    EXPECT_TRUE(form->btnPLink->isVisible());
    EXPECT_TRUE(form->lblFilename->isVisible());
    // The progress bar moves into the status bar's first panel when it shows.
    EXPECT_TRUE(form->StatusBar1->isAncestorOf(form->PB1));
    EXPECT_TRUE(form->PB1->isVisible());
    EXPECT_EQ(form->PB1->width(), 500);

    // A resize in S29 mode must not bring the tabs back.
    form->applyLayout(QSize(900, 700));
    EXPECT_FALSE(form->pacCapMsg->isVisible());

    for (int twice = 0; twice < 2; ++twice) {  // again: nothing changes, the mark stays
        form->NormalMode1->trigger();
        EXPECT_EQ(form->mode(), OperatingMode::Normal);
        EXPECT_EQ(visibleMenus(*form), normalMenus);
        EXPECT_TRUE(form->NormalMode1->isChecked());
        EXPECT_FALSE(form->S29Mode1->isChecked());
        EXPECT_TRUE(form->pacCapMsg->isVisible());
        EXPECT_FALSE(form->StatusBar1->isVisible());
    }
}

TEST_F(MainWindow, AlarmMessageActivatesItsTabAndExitCloses) {
    form->AlarmMessage1->trigger();
    EXPECT_EQ(form->pacCapMsg->currentWidget(), form->TabSheet4);
    form->Exit1->trigger();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(MessageBox::shown().empty()) << "Exit asks nothing";
}

TEST_F(MainWindow, ControlsScaleWithTheClientArea) {
    form->applyLayout(QSize(TForm1::kDesignClientWidth, TForm1::kDesignClientHeight));
    EXPECT_EQ(form->GroupBox3->geometry(), QRect(9, 28, 700, 70));
    EXPECT_EQ(form->pacCapMsg->geometry(), QRect(9, 107, 700, 400));
    form->applyLayout(QSize(2 * TForm1::kDesignClientWidth, 2 * TForm1::kDesignClientHeight));
    EXPECT_EQ(form->pacCapMsg->geometry(), QRect(18, 214, 1400, 800));
    EXPECT_EQ(form->arrays().edtAddr[0]->font().pointSize(), 16);
}

// The menus drop down in the desktop's menu font, however large the window.
TEST_F(MainWindow, MenusKeepTheirFontWhenTheWindowIsScaled) {
    for (const QSize size : {QSize(2 * TForm1::kDesignClientWidth, 2 * TForm1::kDesignClientHeight),
                             QSize(TForm1::kDesignClientWidth / 2, TForm1::kDesignClientHeight / 2)}) {
        form->applyLayout(size);
        for (QMenu* menu : {form->File1, form->File2, form->ToFlash1, form->ToFlash2, form->Page1, form->System1})
            EXPECT_EQ(menu->font().pointSize(), QApplication::font(menu).pointSize()) << menu->objectName().toStdString() << " at " << size.width();
    }
}

}  // namespace
