// The main window: menus, tool bar, selection bar, the four tabs, status bar
// and the focus sink. The window owns the configuration for the whole run; the
// handlers named after their control and event live in one file per feature.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include <array>
#include <memory>
#include <vector>

#include "gui/mainwindow/controlarrays.h"
#include "gui/seams/layoutscaler.h"
#include "gui/mainwindow/tag.h"
#include "core/config/image.h"
#include "core/config/pageviews.h"
#include "core/config/paging.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QToolButton;

class FocusRules;
class KeyPressFilter;
class PortSelector;
class TAboutBox;
class TForm2;
class TPasswordDlg;
class TPwdDlg;
class TfrmConn;

namespace qm730 {
struct Firmware;
struct LinkState;
class SerialLine;
}  // namespace qm730

enum class OperatingMode { Normal, S29 };

// The windows created once at start-up and reused for the whole run.
struct OtherWindows {
    TForm2* form2 = nullptr;
    TAboutBox* aboutBox = nullptr;
    TPasswordDlg* passwordDlg = nullptr;
    TPwdDlg* pwdDlg = nullptr;
};

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    // Size of the client area the control bounds were drawn for; the outer
    // window (frame and title bar included) was 725 x 573.
    static constexpr int kDesignClientWidth = 717;
    static constexpr int kDesignClientHeight = 527;

    // The firmware write and the connection check go over `line`, with the
    // link's state `linkState`: the program's, for its whole run.
    TForm1(qm730::SerialLine& line, qm730::LinkState& linkState, QWidget* parent = nullptr);
    ~TForm1() override;

    void attachWindows(const OtherWindows& windows) { windows_ = windows; }
    const OtherWindows& windows() const { return windows_; }
    TfrmConn* frmConn() const { return frmConn_.get(); }

    qm730::Configuration& config() { return config_; }
    const qm730::Configuration& config() const { return config_; }
    const ControlArrays& arrays() const { return arrays_; }

    // What the window keeps beside the image for the whole run.
    int capcodePage() const { return capcodePage_; }  // 1..11
    int messagePage() const { return messagePage_; }  // 1..10
    // The chosen entry of the port selector (0..4 for COM1..COM5, then the
    // devices found), and the port it stands for: "COM1".. or a device.
    int selectedPort() const;
    std::string selectedPortName() const;
    // The current directory when the window was created: where every file
    // dialog starts.
    const QString& startDirectory() const { return startDirectory_; }

    // Shows or hides the elements of Normal and S29 mode (one table, both ways).
    void setMode(OperatingMode mode);
    OperatingMode mode() const { return mode_; }

    // Sends the focus to Edit1 and runs the leave rule of the field that had
    // it at once, so the caller sees the committed value.
    void moveFocusToSink();

    // The second panel of the status bar (" Ready" at rest), painted at once.
    void setStatusText(const QString& text);
    QString statusText() const;

    // --- S29 mode (mainwindow/form1_s29.cpp) --------------------------------
    // The firmware Write sends: the flash image and the file it came from.
    const qm730::Firmware& firmware() const { return *firmware_; }
    // A firmware write runs: the menus, "P-Link" and closing the window are
    // refused meanwhile.
    bool writing() const { return writing_; }
    // A write or a connection check holds the board's port.
    bool portInUse() const;

    // Recomputes every control's bounds and font from the design values for
    // the given client size (called on every resize of the client area).
    void applyLayout(const QSize& clientSize);

    // --- Page views (bodies in config/form1_pages.cpp) ----------------------
    // False when a group or block address is no number: its notice has been
    // shown, nothing was stored, and the calling command goes no further.
    bool storeCapcodePage(int page);
    void loadCapcodePage(int page);
    void storeMessagePage(int page);
    void loadMessagePage(int page);
    void storeAlarmPage();
    void loadAlarmPage();
    void loadConfigView();

    // --- Handlers, named after their control and event ----------------------
    // Data tabs (config/form1_editing.cpp).
    void edtAddrKeyPress(QObject* sender, char& key);
    void edtAddrExit(QObject* sender);
    void edtNameKeyPress(QObject* sender, char& key);
    void edtNameExit(QObject* sender);
    void edtGroupKeyPress(QObject* sender, char& key);
    void edtGroupExit(QObject* sender);
    void chkGroup1Click(QObject* sender);
    void memMsgKeyPress(QObject* sender, char& key);
    void memMsgExit(QObject* sender);
    void edtPagerIDKeyPress(QObject* sender, char& key);
    void edtPagerIDExit(QObject* sender);
    void memAMsgKeyPress(QObject* sender, char& key);
    void memAMsgExit(QObject* sender);

    // Config tab, frequency and channel space (config/form1_configtab.cpp).
    void chkCtlClick(QObject* sender);
    void GroupBox2Exit(QObject* sender);
    void edtDelayKeyPress(QObject* sender, char& key);
    void edtDelayExit(QObject* sender);
    void edtPreambleExit(QObject* sender);
    void edtRangTDurExit(QObject* sender);
    void edtFPassExit(QObject* sender);
    void edtSPassExit(QObject* sender);
    void cboUARtBaudClick(QObject* sender);
    void cboUARtDataClick(QObject* sender);
    void cboTAPSClick(QObject* sender);
    void cboHeartSetClick(QObject* sender);
    void cboCBaudClick(QObject* sender);
    void cboPBaudClick(QObject* sender);
    void cboPTypeClick(QObject* sender);
    void edtFreqEnter(QObject* sender);
    void edtFreqExit(QObject* sender);
    void cboCSpaceClick(QObject* sender);
    void OpenConfig1Click(QObject* sender);
    // The access code was right: the Config tab becomes the enabled, current
    // page (its tab button stays hidden) and shows the image.
    void unlockConfigTab();

    // Paging (config/form1_pages.cpp).
    void NextC1Click(QObject* sender);
    void BeforeC1Click(QObject* sender);
    void NextM1Click(QObject* sender);
    void BeforeM1Click(QObject* sender);
    void cboCapNoClick(QObject* sender);
    void cboMesNoClick(QObject* sender);
    void TabSheet4Exit(QObject* sender);

    // File, transfer and S29 commands (app/form1_file.cpp, form1_transfer.cpp,
    // form1_s29.cpp).
    void Open1Click(QObject* sender);
    // What Open1Click does with the chosen file; a file named on the command
    // line or dropped on the window takes the same way.
    void openTableFile(const QString& path);
    void Save1Click(QObject* sender);
    void Write1Click(QObject* sender);
    void Test1Click(QObject* sender);
    void Open2Click(QObject* sender);
    // What Open2Click does with the chosen file (also for a dropped one).
    void openFirmwareFile(const QString& path);
    void Write2Click(QObject* sender);
    void btnPLinkClick(QObject* sender);

    // Shell commands (app/form1_commands.cpp).
    void AlarmMessage1Click(QObject* sender);
    void NormalMode1Click(QObject* sender);
    void S29Mode1Click(QObject* sender);
    void About1Click(QObject* sender);
    void Exit1Click(QObject* sender);
    void cboComPortClick(QObject* sender);

    // A file dragged onto the window (mainwindow/form1_drop.cpp): one table
    // file in Normal mode, one firmware file in S29 mode while no write runs.
    bool acceptsDroppedFile(const QString& path) const;
    void openDroppedFile(const QString& path);

    // --- Controls (the window's published controls) -------------------------
    QWidget* client = nullptr;  // the client area all controls are placed in

    QMenu* File1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* File2 = nullptr;
    QAction* Open2 = nullptr;
    QMenu* ToFlash2 = nullptr;
    QAction* Write1 = nullptr;
    QAction* Test1 = nullptr;
    QMenu* ToFlash1 = nullptr;
    QAction* Write2 = nullptr;
    QMenu* Page1 = nullptr;
    QAction* NextC1 = nullptr;
    QAction* BeforeC1 = nullptr;
    QAction* NextM1 = nullptr;
    QAction* BeforeM1 = nullptr;
    QAction* OpenConfig1 = nullptr;
    QAction* AlarmMessage1 = nullptr;
    QMenu* System1 = nullptr;
    QAction* NormalMode1 = nullptr;
    QAction* S29Mode1 = nullptr;
    QAction* About1 = nullptr;

    QFrame* ToolBar1 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QComboBox* cboCapNo = nullptr;
    QComboBox* cboMesNo = nullptr;
    PortSelector* cboComPort = nullptr;
    QLineEdit* edtFreq = nullptr;
    QComboBox* cboCSpace = nullptr;
    QLabel* lblFilename = nullptr;
    QTabWidget* pacCapMsg = nullptr;
    QWidget* TabSheet2 = nullptr;  // "Config"
    QWidget* TabSheet1 = nullptr;  // "Pager DataBase"
    QWidget* TabSheet3 = nullptr;  // "PPG Message"
    QWidget* TabSheet4 = nullptr;  // "Alarm message"
    QPushButton* btnPLink = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QProgressBar* PB1 = nullptr;
    QLineEdit* Edit1 = nullptr;

    // Config tab.
    QGroupBox* GroupBox2 = nullptr;
    QGroupBox* grpFreq = nullptr;
    QLineEdit* edtPreamble = nullptr;
    QLineEdit* edtRangTDur = nullptr;
    QLineEdit* edtFPass = nullptr;
    QLineEdit* edtSPass = nullptr;
    QComboBox* cboUARtBaud = nullptr;
    QComboBox* cboUARtData = nullptr;
    QComboBox* cboTAPS = nullptr;
    QComboBox* cboHeartSet = nullptr;
    QComboBox* cboCBaud = nullptr;
    QComboBox* cboPBaud = nullptr;
    QComboBox* cboPType = nullptr;
    QLabel* lblPLLR = nullptr;
    QLabel* lblPLLN = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Shows a page of the data tabs: its tab, caption, row labels and rows.
    void showCapcodePage(int page, qm730::CapcodePageVia via, bool updateSelector);
    void showMessagePage(int page, bool updateSelector);

    // Construction, one step per area (app/form1_build.cpp).
    void buildMenus();
    void buildToolBar();
    void buildSelectionBar();
    void buildPageControl();
    void buildCapcodeTab();
    void buildMessageTab();
    void buildAlarmTab();
    void buildConfigTab();
    void buildStatusBar();
    void connectHandlers();
    void placeProgressBarInStatusBar();
    // Refuses or allows again every command that could use the port or
    // leave S29 mode while a write runs.
    void holdPortCommands(bool hold);
    // Nothing loaded: Write asks for a file first.
    void forgetFirmware();

    // Start-up (app/form1_startup.cpp).
    void formCreate();
    void showStartupDefaults();

    // Creates a control as a child of parent at its design bounds, gives it
    // its name and records it in the component list.
    template <typename T, typename... Args>
    T* make(QWidget* parent, const QString& name, QRect bounds, Args&&... args);
    QLabel* makeLabel(QWidget* parent, const QString& text, QRect bounds);
    QComboBox* makeList(QWidget* parent, const QString& name, QRect bounds, const QStringList& items, int selected);
    QLineEdit* makeEdit(QWidget* parent, const QString& name, QRect bounds, int maxLength, const QString& text);
    void registerComponent(QObject* component) { components_.push_back(component); }

    qm730::Configuration config_;
    int capcodePage_ = 1;
    int messagePage_ = 1;
    QString startDirectory_;
    // The shown pages' rows as the last load or store left them: a store
    // writes only the texts the operator changed since (config/form1_pages.cpp).
    qm730::CapcodeRows capcodeRows_{};
    qm730::MessageRows messageRows_{};
    qm730::AlarmRows alarmRows_{};
    std::vector<QObject*> components_;  // creation order, like the window's component list
    ControlArrays arrays_;
    LayoutScaler scaler_;
    OperatingMode mode_ = OperatingMode::Normal;
    OtherWindows windows_;
    qm730::SerialLine& line_;
    qm730::LinkState& linkState_;
    std::unique_ptr<TfrmConn> frmConn_;
    std::unique_ptr<qm730::Firmware> firmware_;
    bool writing_ = false;
    KeyPressFilter* keyFilter_ = nullptr;
    FocusRules* focusRules_ = nullptr;
    QWidget* statusPanel_ = nullptr;  // the owner-drawn first panel hosting PB1
    QLabel* statusText_ = nullptr;
    std::array<QToolButton*, 8> toolButtons_{};
    int labelCount_ = 0;
};
