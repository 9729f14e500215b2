// The main window's construction order, its resize handling and the few
// services it offers the other windows.
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>

#include "gui/mainwindow/filedrops.h"
#include "gui/mainwindow/focusrules.h"
#include "gui/seams/keypressfilter.h"
#include "gui/mainwindow/unit1.h"
#include "gui/windows/conn.h"
#include "core/flash/firmwarefile.h"

TForm1::TForm1(qm730::SerialLine& line, qm730::LinkState& linkState, QWidget* parent)
    : QMainWindow(parent), line_(line), linkState_(linkState), firmware_(std::make_unique<qm730::Firmware>()) {
    setObjectName("Form1");
    setWindowTitle("QM730C  --  Corvane");
    // The layout was drawn for a narrow 8-point sans serif; the condensed face
    // stands in where the usual ones are missing.
    QFont designFont = font();
    designFont.setFamilies({"MS Sans Serif", "Arial", "Liberation Sans", "DejaVu Sans Condensed"});
    designFont.setPointSize(8);
    setFont(designFont);

    client = new QWidget(this);
    client->setObjectName("ClientArea");
    client->setFixedSize(kDesignClientWidth, kDesignClientHeight);  // released once the layout is recorded
    setCentralWidget(client);

    keyFilter_ = new KeyPressFilter(this);
    focusRules_ = new FocusRules(this);
    keyFilter_->setBeforeKey([this] { focusRules_->runPendingRules(); });

    buildMenus();
    buildToolBar();
    buildSelectionBar();
    buildPageControl();
    buildStatusBar();
    formCreate();
    new FileDrops(this, [this](const QString& path) { return acceptsDroppedFile(path); },
                  [this](const QString& path) { openDroppedFile(path); });
}

TForm1::~TForm1() = default;

void TForm1::moveFocusToSink() { focusRules_->moveFocusToSink(); }

// Painted at once: a step's text must show even when the board answers before
// the next wait gives the window a turn.
void TForm1::setStatusText(const QString& text) {
    statusText_->setText(text);
    statusText_->repaint();
}
QString TForm1::statusText() const { return statusText_->text(); }

// The toolkit repaints once after all controls have moved, so nothing is
// hidden meanwhile (hiding the tabs would take the focus from the field being
// edited, and would show them again in S29 mode).
void TForm1::applyLayout(const QSize& clientSize) { scaler_.apply(clientSize); }

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client && event->type() == QEvent::Resize) {
        applyLayout(client->size());
    } else if (watched == statusPanel_ && (event->type() == QEvent::Show || event->type() == QEvent::Resize)) {
        // Moving a control into a widget that is still being shown leaves it
        // unpainted; place it once the panel has settled.
        QMetaObject::invokeMethod(this, &TForm1::placeProgressBarInStatusBar, Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}

// The progress bar lives in the status bar's first panel from the moment the
// status bar first shows; until then it is hidden.
void TForm1::placeProgressBarInStatusBar() {
    if (PB1->parentWidget() != statusPanel_) PB1->setParent(statusPanel_);
    PB1->setGeometry(statusPanel_->rect());
    PB1->show();
}
