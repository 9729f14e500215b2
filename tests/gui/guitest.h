// Helpers shared by the widget tests, with the widget classes they all use.
#pragma once

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <string>

#include "gui/seams/messagebox.h"
#include "gui/app/programlink.h"
#include "gui/app/startup.h"
#include "gui/mainwindow/portselector.h"
#include "gui/mainwindow/unit1.h"

// The boxes of the field rules as the operator sees them. Tests spell out
// texts and captions themselves, so a typo in the program's own shows.
inline qm730::Notice warningBox(std::string text) {
    return {std::move(text), "Warning!", qm730::NoticeButtons::RetryCancel, qm730::NoticeIcon::Stop};
}
inline qm730::Notice errorBox(std::string text) {
    return {std::move(text), "Warning!", qm730::NoticeButtons::Ok, qm730::NoticeIcon::Stop};
}
inline qm730::Notice plainBox(std::string text) {
    return {std::move(text), "QM730C", qm730::NoticeButtons::Ok, qm730::NoticeIcon::None};
}
inline qm730::Notice notANumberBox(const std::string& text) {
    return {"'" + text + "' is not a valid integer value.", "QM730", qm730::NoticeButtons::Ok,
            qm730::NoticeIcon::Stop};
}

// Shows a window and waits until it is active: the offscreen platform
// activates it at once, under Xvfb without a window manager it must be asked.
inline bool showActive(QWidget& window) {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

// The operator clicks into a control: the rules the move triggers run.
inline void focus(QWidget* control) {
    control->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
}

template <typename T>
T* child(const QObject& parent, const QString& name) {
    return parent.findChild<T*>(name);
}

// The main window with its dialogs, shown and active, with a clean box record,
// started as on the first run: nothing remembered from an earlier test.
struct MainWindowFixture {
    MainWindowFixture() : form((QSettings().clear(), createWindows())) {
        MessageBox::clearShown();
        active = showActive(*form);
    }
    std::unique_ptr<TForm1> form;
    bool active = false;
};
