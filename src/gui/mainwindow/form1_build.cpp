// Creates the main window's controls at their design bounds. Inside the tabs
// the rows are laid out on a regular grid; everything scales with the window.
#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>

#include "gui/mainwindow/hiddentabstyle.h"
#include "gui/mainwindow/portselector.h"
#include "gui/mainwindow/typedlength.h"
#include "gui/mainwindow/unit1.h"

namespace {

constexpr int kToolButtonWidth = 45;
constexpr int kToolButtonHeight = 22;

const QStringList kCapcodePages = {
    "CapCode#    1 -- 10", "CapCode#   11 -- 20", "CapCode#   21 -- 30", "CapCode#   31 -- 40",
    "CapCode#   41 -- 50", "CapCode#   51 -- 60", "CapCode#   61 -- 70", "CapCode# 71 -- 80",
    "CapCode# 81 -- 90",   "CapCode# 91 -- 99",   "CapCode# 100 -- 899",
};
const QStringList kMessagePages = {
    "Message#    1  --  10", "Message#  11  --  20", "Message#  21  --  30", "Message#  31  --  40",
    "Message#  41  --  50", "Message#  51  --  60", "Message#  61  --  70", "Message#  71  --  80",
    "Message#  81  --  90", "Message#  91  --  99",
};
const QStringList kChannelSpaces = {"12.5k", "10k"};
const QStringList kFunctionBits = {"0  0", "0  1", "1  0", "1  1"};
const QStringList kPagerTypes = {"Alpha", "Numeric", "Tone"};
const QStringList kPagerBauds = {"512 bps", "1200 bps", "2400 bps"};

const QStringList kUartBauds = {"1200 bps", "2400 bps", "4800 bps", "9600 bps", "12800 bps", "19200 bps"};
const QStringList kUartData = {"7,E,1", "8,N,1"};
const QStringList kProtocols = {"QZTAP",          "IPage 2 Personal Edition", "WaveWare Paging System TAP",
                                "Programming",    "QZCOMP2",                  "POCSAG TEXT",
                                "POCSAG Numeric", "COMP2",                    "COMP1",
                                "SCOPE"};
const QStringList kHeartbeats = {"Disable",       "1     Minutes", "2     Minutes", "3     Minutes",
                                 "4     Minutes", "5     Minutes", "6     Minutes", "7     Minutes",
                                 "8     Minutes", "9     Minutes", "10   Minutes"};
const QStringList kConfigBauds = {" 512  bps", "1200 bps", "2400 bps"};
const QStringList kPocsagBauds = {"512  bps", "1200 bps"};
const QStringList kPocsagTypes = {"Text", "Numeric"};

QString rowName(const char* prefix, int row) { return QString::fromLatin1(prefix) + QString::number(row + 1); }

}  // namespace

template <typename T, typename... Args>
T* TForm1::make(QWidget* parent, const QString& name, QRect bounds, Args&&... args) {
    auto* control = new T(std::forward<Args>(args)..., parent);
    control->setObjectName(name);
    control->setGeometry(bounds);
    registerComponent(control);
    return control;
}

QLabel* TForm1::makeLabel(QWidget* parent, const QString& text, QRect bounds) {
    return make<QLabel>(parent, QString("Label%1").arg(++labelCount_), bounds, text);
}

QComboBox* TForm1::makeList(QWidget* parent, const QString& name, QRect bounds, const QStringList& items,
                            int selected) {
    auto* list = make<QComboBox>(parent, name, bounds);
    list->addItems(items);
    list->setCurrentIndex(selected);
    list->setMaxVisibleItems(items.size());
    return list;
}

QLineEdit* TForm1::makeEdit(QWidget* parent, const QString& name, QRect bounds, int maxLength, const QString& text) {
    auto* edit = make<QLineEdit>(parent, name, bounds, text);
    setTypedLengthLimit(edit, maxLength);
    return edit;
}

void TForm1::buildMenus() {
    QMenuBar* bar = menuBar();
    auto addMenu = [&](const char* name, const char* text) {
        QMenu* menu = bar->addMenu(QString::fromLatin1(text));
        menu->setObjectName(name);
        registerComponent(menu);
        return menu;
    };
    auto addItem = [&](QMenu* menu, const char* name, const char* text) {
        QAction* item = menu->addAction(QString::fromLatin1(text));
        item->setObjectName(name);
        registerComponent(item);
        return item;
    };

    File1 = addMenu("File1", "File");
    Open1 = addItem(File1, "Open1", "Open");
    Save1 = addItem(File1, "Save1", "Save");
    N1 = File1->addSeparator();
    N1->setObjectName("N1");
    registerComponent(N1);
    Exit1 = addItem(File1, "Exit1", "Exit");

    File2 = addMenu("File2", "File");
    Open2 = addItem(File2, "Open2", "Open");

    ToFlash2 = addMenu("ToFlash2", "ToFlash");
    Write1 = addItem(ToFlash2, "Write1", "Transfer");
    Test1 = addItem(ToFlash2, "Test1", "Read");

    ToFlash1 = addMenu("ToFlash1", "ToFlash");
    Write2 = addItem(ToFlash1, "Write2", "Write");

    Page1 = addMenu("Page1", "Page");
    NextC1 = addItem(Page1, "NextC1", "Next - C");
    BeforeC1 = addItem(Page1, "BeforeC1", "Before -C");
    NextM1 = addItem(Page1, "NextM1", "Next -M");
    BeforeM1 = addItem(Page1, "BeforeM1", "Before - M");
    OpenConfig1 = addItem(Page1, "OpenConfig1", "Open Config");
    AlarmMessage1 = addItem(Page1, "AlarmMessage1", "Alarm Message");

    System1 = addMenu("System1", "System");
    NormalMode1 = addItem(System1, "NormalMode1", "Normal Mode");
    S29Mode1 = addItem(System1, "S29Mode1", "S29 Mode");
    NormalMode1->setCheckable(true);
    S29Mode1->setCheckable(true);

    About1 = bar->addAction("About");
    About1->setObjectName("About1");
    registerComponent(About1);
}

void TForm1::buildToolBar() {
    ToolBar1 = make<QFrame>(client, "ToolBar1", {0, 0, 717, 29});
    struct Button {
        const char* caption;
        QStyle::StandardPixmap icon;
        const char* hint;
    };
    constexpr auto kNoIcon = QStyle::SP_CustomBase;
    const Button buttons[] = {
        {"C", kNoIcon, "CapCode Before Page"},
        {"C", kNoIcon, "CapCode Next Page"},
        {nullptr, QStyle::SP_DialogOpenButton, "Open File"},
        {nullptr, QStyle::SP_DialogSaveButton, "Save File"},
        {nullptr, QStyle::SP_ArrowUp, "Transfer Data"},
        {nullptr, QStyle::SP_ArrowDown, "Read Data "},
        {"M", kNoIcon, "Message Before Page"},
        {"M", kNoIcon, "Message Next Page"},
    };
    for (int i = 0; i < 8; ++i) {
        const Button& b = buttons[i];
        auto* button = make<QToolButton>(ToolBar1, QString("ToolButton%1").arg(i + 1),
                                         {i * kToolButtonWidth, 2, kToolButtonWidth, kToolButtonHeight});
        button->setAutoRaise(true);
        button->setToolTip(QString::fromLatin1(b.hint));
        if (b.caption) {
            button->setText(QString::fromLatin1(b.caption));
        } else {
            button->setIcon(style()->standardIcon(b.icon));
        }
        toolButtons_[i] = button;
    }
}

void TForm1::buildSelectionBar() {
    GroupBox3 = make<QGroupBox>(client, "GroupBox3", {9, 28, 700, 70});
    makeLabel(GroupBox3, "CapCode Select", {24, 16, 90, 16});
    cboCapNo = makeList(GroupBox3, "cboCapNo", {116, 13, 131, 21}, kCapcodePages, 0);
    makeLabel(GroupBox3, "Message Select", {290, 16, 90, 16});
    cboMesNo = makeList(GroupBox3, "cboMesNo", {382, 13, 131, 21}, kMessagePages, 0);
    makeLabel(GroupBox3, " Port:", {536, 16, 34, 16});
    cboComPort = make<PortSelector>(GroupBox3, "cboComPort", QRect{571, 13, 62, 21});
    makeLabel(GroupBox3, "Frequency", {24, 43, 90, 16});
    edtFreq = makeEdit(GroupBox3, "edtFreq", {116, 40, 57, 23}, 7, "4545000");
    makeLabel(GroupBox3, "00Hz", {175, 43, 40, 16});
    makeLabel(GroupBox3, "Channel Space", {290, 43, 90, 16});
    cboCSpace = makeList(GroupBox3, "cboCSpace", {382, 40, 71, 23}, kChannelSpaces, 0);

    lblFilename = make<QLabel>(client, "lblFilename", {160, 60, 540, 20});
    QFont filenameFont("serif");
    filenameFont.setStyleHint(QFont::Serif);
    filenameFont.setPixelSize(15);
    filenameFont.setBold(true);
    lblFilename->setFont(filenameFont);
    lblFilename->hide();

    Edit1 = makeEdit(client, "Edit1", {305, 100, 0, 21}, 0, QString());
    Edit1->setFrame(false);
}

void TForm1::buildPageControl() {
    pacCapMsg = make<QTabWidget>(client, "pacCapMsg", {9, 107, 700, 400});
    auto addSheet = [&](const char* name, const char* caption) {
        auto* sheet = new QWidget;
        sheet->setObjectName(name);
        pacCapMsg->addTab(sheet, QString::fromLatin1(caption));
        registerComponent(sheet);
        return sheet;
    };
    TabSheet2 = addSheet("TabSheet2", "Config");
    TabSheet1 = addSheet("TabSheet1", "Pager DataBase");
    TabSheet3 = addSheet("TabSheet3", "PPG Message");
    TabSheet4 = addSheet("TabSheet4", "Alarm message");
    buildConfigTab();
    buildCapcodeTab();
    buildMessageTab();
    buildAlarmTab();

    // The Config tab is reached only through its access code; its tab button
    // stays hidden for the whole run.
    pacCapMsg->setCurrentWidget(TabSheet1);
    pacCapMsg->setTabVisible(pacCapMsg->indexOf(TabSheet2), false);
    pacCapMsg->setTabEnabled(pacCapMsg->indexOf(TabSheet2), false);
    TabSheet2->setEnabled(false);
    auto* tabStyle = new HiddenTabStyle;
    tabStyle->setParent(pacCapMsg->tabBar());
    pacCapMsg->tabBar()->setStyle(tabStyle);

    btnPLink = make<QPushButton>(client, "btnPLink", {640, 10, 65, 22}, "P-Link");
    btnPLink->hide();
}

void TForm1::buildCapcodeTab() {
    QWidget* sheet = TabSheet1;
    constexpr int kTop = 30, kPitch = 32, kHeight = 23;
    makeLabel(sheet, "Index", {14, 8, 40, 16});
    makeLabel(sheet, "Address", {62, 8, 80, 16});
    makeLabel(sheet, "FunBit", {156, 8, 60, 16});
    makeLabel(sheet, "Type", {234, 8, 60, 16});
    makeLabel(sheet, "Baud", {334, 8, 60, 16});
    makeLabel(sheet, "Name", {434, 8, 60, 16});
    makeLabel(sheet, "Group", {564, 8, 60, 16});
    for (int r = 0; r < kCapcodeRows; ++r) {
        const int y = kTop + r * kPitch;
        auto tagged = [r](QWidget* control) { setTag(control, r); };
        tagged(make<QLabel>(sheet, rowName("labIndex", r), {14, y + 3, 40, 17}, QString::number(r + 1)));
        tagged(makeEdit(sheet, rowName("edtAddr", r), {60, y, 84, kHeight}, 7, QString()));
        tagged(makeList(sheet, rowName("cboFunc", r), {154, y, 68, kHeight}, kFunctionBits, 0));
        tagged(makeList(sheet, rowName("cboType", r), {232, y, 92, kHeight}, kPagerTypes, 0));
        tagged(makeList(sheet, rowName("cboBaud", r), {332, y, 92, kHeight}, kPagerBauds, 1));
        tagged(makeEdit(sheet, rowName("edtName", r), {432, y, 120, kHeight}, 0, QString()));
        tagged(make<QCheckBox>(sheet, rowName("chkGroup", r), {562, y + 3, 18, 17}));
        QLineEdit* group = makeEdit(sheet, rowName("edtGroup", r), {584, y, 48, kHeight}, r == 0 ? 2 : 0, QString());
        group->setEnabled(false);
        tagged(group);
    }
}

void TForm1::buildMessageTab() {
    QWidget* sheet = TabSheet3;
    constexpr int kTop = 28, kPitch = 34, kHeight = 31;
    makeLabel(sheet, "Index", {14, 8, 40, 16});
    makeLabel(sheet, "Content", {62, 8, 80, 16});
    for (int r = 0; r < kMessageRows; ++r) {
        const int y = kTop + r * kPitch;
        auto* label = make<QLabel>(sheet, rowName("labMIndex", r), {14, y + 7, 40, 17}, QString::number(r + 1));
        setTag(label, r);
        auto* memo = make<QPlainTextEdit>(sheet, rowName("memMsg", r), {60, y, 620, kHeight});
        memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        memo->setTabChangesFocus(true);
        setTag(memo, r);
    }
}

void TForm1::buildAlarmTab() {
    QWidget* sheet = TabSheet4;
    constexpr int kTop = 28, kPitch = 48, kHeight = 42;
    makeLabel(sheet, "Pager ID", {14, 8, 60, 16});
    makeLabel(sheet, "Content", {92, 8, 80, 16});
    for (int r = 0; r < kAlarmRows; ++r) {
        const int y = kTop + r * kPitch;
        setTag(makeEdit(sheet, rowName("edtPagerID", r), {14, y + 9, 60, 23}, 3, QString()), r);
        auto* memo = make<QPlainTextEdit>(sheet, rowName("memAMsg", r), {90, y, 590, kHeight});
        memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        memo->setTabChangesFocus(true);
        setTag(memo, r);
    }
}

void TForm1::buildConfigTab() {
    QWidget* sheet = TabSheet2;
    GroupBox2 = make<QGroupBox>(sheet, "GroupBox2", {10, 8, 200, 170}, "Status");
    const char* statusCaptions[] = {"Key Beep Off", "Disable Frequency Set", "Invert Polarity", "LCD Back Light On",
                                    "Zero Display Enable"};
    for (int i = 0; i < kStatusBoxes; ++i) {
        auto* box = make<QCheckBox>(GroupBox2, QString("chkCtl%1").arg(i), {14, 24 + i * 28, 176, 20},
                                    QString::fromLatin1(statusCaptions[i]));
        setTag(box, i);
    }
    GroupBox2->findChild<QCheckBox*>("chkCtl3")->setChecked(true);
    GroupBox2->findChild<QCheckBox*>("chkCtl4")->hide();

    grpFreq = make<QGroupBox>(sheet, "grpFreq", {220, 8, 462, 300}, "System");
    constexpr int kLeftLabel = 12, kLeftField = 124, kRightLabel = 236, kRightField = 336;
    auto rowY = [](int i) { return 24 + i * 32; };

    makeLabel(grpFreq, "DelayByte", {kLeftLabel, rowY(0) + 3, 100, 16});
    const char* delayTexts[] = {"111", "16", "10", "20"};
    for (int i = 0; i < kDelayFields; ++i) {
        auto* delay = makeEdit(grpFreq, QString("edtDelay%1").arg(i + 1), {kLeftField - 40 + i * 36, rowY(0), 32, 23},
                               3, QString::fromLatin1(delayTexts[i]));
        setTag(delay, i);
    }
    makeLabel(grpFreq, "Preemble Length", {kLeftLabel, rowY(1) + 3, 110, 16});
    edtPreamble = makeEdit(grpFreq, "edtPreamble", {kLeftField, rowY(1), 40, 23}, 2, "100");
    makeLabel(grpFreq, "Pager Duration", {kLeftLabel, rowY(2) + 3, 110, 16});
    edtRangTDur = makeEdit(grpFreq, "edtRangTDur", {kLeftField, rowY(2), 56, 23}, 0, "10");
    makeLabel(grpFreq, "Function Password", {kLeftLabel, rowY(3) + 3, 110, 16});
    edtFPass = makeEdit(grpFreq, "edtFPass", {kLeftField, rowY(3), 56, 23}, 4, "8294");
    makeLabel(grpFreq, "Setup Password", {kLeftLabel, rowY(4) + 3, 110, 16});
    edtSPass = makeEdit(grpFreq, "edtSPass", {kLeftField, rowY(4), 80, 23}, 7, "6180452");
    makeLabel(grpFreq, "PLLR", {kLeftLabel, rowY(5) + 3, 110, 16});
    lblPLLR = make<QLabel>(grpFreq, "lblPLLR", {kLeftField, rowY(5) + 3, 80, 16}, "050801");
    makeLabel(grpFreq, "PLLN", {kLeftLabel, rowY(6) + 3, 110, 16});
    lblPLLN = make<QLabel>(grpFreq, "lblPLLN", {kLeftField, rowY(6) + 3, 80, 16}, "023810");

    auto list = [&](int row, const char* caption, const char* name, const QStringList& items, int selected) {
        makeLabel(grpFreq, QString::fromLatin1(caption), {kRightLabel, rowY(row) + 3, 98, 16});
        QComboBox* box = makeList(grpFreq, QString::fromLatin1(name), {kRightField, rowY(row), 114, 23}, items, selected);
        box->view()->setMinimumWidth(box->view()->sizeHintForColumn(0) + 24);
        return box;
    };
    cboUARtBaud = list(0, "UART_baud", "cboUARtBaud", kUartBauds, 3);
    cboUARtData = list(1, "UART_data", "cboUARtData", kUartData, 1);
    cboTAPS = list(2, "Potocol Select", "cboTAPS", kProtocols, 3);
    cboHeartSet = list(3, "Heartbeat Setting", "cboHeartSet", kHeartbeats, 0);
    cboCBaud = list(4, "Baud", "cboCBaud", kConfigBauds, 1);
    cboPBaud = list(5, "POCSAG Baud", "cboPBaud", kPocsagBauds, 1);
    cboPType = list(6, "POCSAG Type", "cboPType", kPocsagTypes, 0);
}

void TForm1::buildStatusBar() {
    StatusBar1 = make<QStatusBar>(client, "StatusBar1", {0, 506, 717, 21});
    StatusBar1->setSizeGripEnabled(false);
    statusPanel_ = new QWidget;
    statusPanel_->setObjectName("StatusPanel1");
    statusPanel_->setFixedWidth(500);
    StatusBar1->addWidget(statusPanel_);
    statusText_ = new QLabel(" Ready");
    statusText_->setObjectName("StatusPanel2");
    statusText_->setFixedWidth(100);
    StatusBar1->addWidget(statusText_);
    StatusBar1->hide();
    statusPanel_->installEventFilter(this);

    PB1 = make<QProgressBar>(client, "PB1", {369, 8, 171, 17});
    PB1->setRange(0, 1000);
    PB1->setValue(0);
    PB1->setTextVisible(false);
    PB1->hide();
}
