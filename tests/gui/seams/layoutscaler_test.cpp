// Proportional scaling: bounds by the two ratios, fonts by the smaller one,
// always from the design values.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

#include "gui/seams/layoutscaler.h"

namespace {

struct Window {
    Window() {
        QFont design = edit->font();
        design.setPointSize(9);
        edit->setFont(design);
        edit->setGeometry(10, 20, 100, 30);
        QFont pixels = label->font();
        pixels.setPixelSize(15);
        label->setFont(pixels);
        label->setGeometry(7, 9, 33, 11);
        scaler.record({edit, label}, QSize(200, 100));
    }
    QWidget surface;
    QLineEdit* edit = new QLineEdit(&surface);
    QLabel* label = new QLabel(&surface);
    LayoutScaler scaler;
};

TEST(LayoutScaler, WideningStretchesBoundsButNotFonts) {
    Window w;
    w.scaler.apply(QSize(300, 100));
    EXPECT_EQ(w.edit->geometry(), QRect(15, 20, 150, 30));
    EXPECT_EQ(w.edit->font().pointSize(), 9);
    EXPECT_EQ(w.label->font().pixelSize(), 15);
}

TEST(LayoutScaler, ShrinkingTruncatesBoundsAndFonts) {
    Window w;
    w.scaler.apply(QSize(100, 50));
    EXPECT_EQ(w.edit->geometry(), QRect(5, 10, 50, 15));
    EXPECT_EQ(w.edit->font().pointSize(), 4);  // 9 x 0.5 = 4.5
    EXPECT_EQ(w.label->geometry(), QRect(3, 4, 16, 5));
    EXPECT_EQ(w.label->font().pixelSize(), 7);
    w.scaler.apply(QSize(2, 2));
    EXPECT_GE(w.edit->font().pointSize(), 1) << "a font never gets an invalid size";
}

// Every size is computed from the design values, so the design size gives them back.
TEST(LayoutScaler, RepeatedResizingDoesNotDrift) {
    Window w;
    for (int i = 0; i < 20; ++i) w.scaler.apply(QSize(133 + i * 7, 77 + i * 3));
    w.scaler.apply(QSize(200, 100));
    EXPECT_EQ(w.edit->geometry(), QRect(10, 20, 100, 30));
    EXPECT_EQ(w.edit->font().pointSize(), 9);
}

TEST(LayoutScaler, ControlsMovedToAnotherHostAreLeftToIt) {
    Window w;
    QWidget host;
    w.edit->setParent(&host);
    w.edit->setGeometry(1, 2, 3, 4);
    w.scaler.apply(QSize(400, 200));
    EXPECT_EQ(w.edit->geometry(), QRect(1, 2, 3, 4));
    EXPECT_EQ(w.label->geometry(), QRect(14, 18, 66, 22));
}

// Drop-down menus and the menu bar are no controls of the window's surface.
TEST(LayoutScaler, MenusAreNotScaled) {
    QWidget window;
    QMenuBar bar(&window);
    QMenu* menu = bar.addMenu("File");
    QFont design = menu->font();
    design.setPointSize(8);
    menu->setFont(design);
    bar.setFont(design);
    LayoutScaler scaler;
    scaler.record({&bar, menu}, QSize(200, 100));
    scaler.apply(QSize(400, 200));
    EXPECT_EQ(menu->font().pointSize(), 8);
    EXPECT_EQ(bar.font().pointSize(), 8);
}

}  // namespace
