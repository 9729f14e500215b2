// What the main window does while it is created, in this order: record the
// layout and ask to be maximised, collect the control arrays, remember the
// start directory, give the configuration its defaults and show them, load
// capcode page 1, and create the connection dialog.
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QCheckBox>

#include "gui/mainwindow/unit1.h"
#include "gui/windows/conn.h"

void TForm1::formCreate() {
    // (a) The design layout, then the window at the screen centre, maximised.
    scaler_.record(components_, QSize(kDesignClientWidth, kDesignClientHeight));
    client->setMinimumSize(0, 0);
    client->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    client->installEventFilter(this);
    resize(kDesignClientWidth, kDesignClientHeight + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    setWindowState(windowState() | Qt::WindowMaximized);

    // (b) to (g); the handlers are wired as soon as the arrays exist.
    fillControlArrays(arrays_, components_);
    connectHandlers();
    startDirectory_ = QDir::currentPath();
    qm730::initialiseDefaults(config_);  // also marks message slot 99
    showStartupDefaults();
    loadCapcodePage(capcodePage_);
    // Transient for this window, as the access-code dialogs are: a window
    // manager that offers to minimise a dialog (openbox does, whatever the
    // dialog asks) then minimises the whole program with it, instead of
    // hiding the dialog alone and leaving this window blocked behind it.
    frmConn_ = std::make_unique<TfrmConn>(this);

    setMode(OperatingMode::Normal);
    Edit1->setFocus();  // no field holds the focus at start
}

// The address rows show the capcode number table before capcode page 1 is
// loaded; the group fields start empty and disabled.
void TForm1::showStartupDefaults() {
    for (int r = 0; r < kCapcodeRows; ++r) {
        arrays_.edtAddr[r]->setText(QString::number(config_.capcodeNumbers[static_cast<std::size_t>(r)]));
        arrays_.edtGroup[r]->clear();
        arrays_.edtGroup[r]->setEnabled(false);
        arrays_.chkGroup[r]->setChecked(false);
    }
    // The first message page and the alarms show what their slots hold; loaded
    // as pages, so a store can tell the operator's edits from the defaults.
    loadMessagePage(messagePage_);
    loadAlarmPage();
}
