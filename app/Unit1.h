#pragma once
// TForm1: the main window, "Tool for access to Morvel PBX".
#include "core/CaptureFile.h"
#include "core/SettingWords.h"
#include "support/Clock.h"

#include <QDateTime>
#include <QMainWindow>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QKeyEvent;
class TFindDialog;
class TTrayIcon;
class TTrayShell;
class TTnCnx;
class TWSocket;
class QPushButton;
class QTimer;
class TForm2;
class TImageButton;
class TSerialPortNG;
class TSessionEndWatcher;
class TStatusBar;
class TStringGrid;
class TTerminalMemo;

struct TForm1Options {
    NowFunction Now = SystemNow;
    std::function<bool()> AnotherInstanceRunning;            // the /proc check when empty
    std::vector<std::string> ExtraPorts;                     // --port PATH, listed first
    bool ListSystemPorts = true;                             // tests list only their own ports
    bool WatchSessionEnd = true;                             // SIGTERM/SIGHUP end the session
    std::function<void(int ms)> Pause;                       // a wait on the main thread; QThread::msleep when empty
    std::function<std::unique_ptr<TTrayShell>()> TrayShell;  // the desktop's notification area when empty
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(TForm1Options options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // Another instance was running: the program is to end at once.
    bool Terminated() const { return terminated_; }
    void SetArchiveWindow(TForm2* form) { Form2 = form; }

    // --- controls ---
    TTerminalMemo* Memo1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    std::array<QPushButton*, 15> meta{};  // meta[1] .. meta[14]
    QPushButton* MetaSW = nullptr;
    TImageButton* ImageHelp = nullptr;
    TImageButton* ImageSetings = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QPushButton* Capture = nullptr;
    QPushButton* ButtonArch = nullptr;
    QFrame* PanelSetMeta = nullptr;
    TStringGrid* StringGrid1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QLabel* LabelFontSize = nullptr;
    QComboBox* CBfontsize = nullptr;
    QCheckBox* CheckBoxBold = nullptr;
    QPushButton* Bra = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QFrame* PsetRA = nullptr;
    QGroupBox* GBra = nullptr;
    QCheckBox* CBoxEnDi = nullptr;
    QLineEdit* EipAddRA = nullptr;
    QLineEdit* EportRA = nullptr;
    QGroupBox* GBpassRA = nullptr;
    QLineEdit* EpassRA = nullptr;
    QLineEdit* EpassRAviewer = nullptr;
    QGroupBox* GBtraps = nullptr;
    QCheckBox* CBoxTrap = nullptr;
    QLineEdit* EipTrap = nullptr;
    QLineEdit* EportTrap = nullptr;
    QLineEdit* EsetPass = nullptr;
    QPushButton* Bclose = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* CopytoPort1 = nullptr;
    QAction* CopyToPortCR = nullptr;
    QAction* CopytoClipboard1 = nullptr;
    QAction* PastefromClipboard1 = nullptr;
    QAction* SelectAll1 = nullptr;
    QAction* Find1 = nullptr;

    // --- components ---
    std::unique_ptr<TSerialPortNG> SerialPortNG1;
    TFindDialog* FindDialog1 = nullptr;
    TTrayIcon* TrayIcon1 = nullptr;
    std::unique_ptr<TWSocket> WSvr, WCli, WTmp;
    std::unique_ptr<TTnCnx> TnCnx;
    TForm2* Form2 = nullptr;

    // --- state ---
    TSettingWords SettingWords;
    int LineIndex = 0;
    int LineLimit = 6000;
    TCaptureFile CaptureFile;
    uint16_t CaptureYear = 0, CaptureMonth = 0, CaptureDay = 0;
    bool CaptureViewMode = false;
    std::string HeldText;
    uint8_t MetaBank = 0;
    uint16_t MetaStep = 0;
    int FindPosition = 0;
    bool RemoteAuthorised = false;
    bool RemoteFullAccess = false;
    std::string RemoteLoginText;
    std::string NmsPending;
    QDateTime NmsLastAttempt;

    // --- start-up and shutdown ---
    void FormCreate();
    void FormShow();
    // Asks "Are yor sure?"; true when the window may close.
    bool FormClose();
    // The user's session is ending: close port and capture file, save the words.
    void EndSession();
    void GetCommPorts();
    void OpenCaptureFile();

    // --- receive path ---
    void SerialPortNG1RxClusterEvent();

    // --- keyboard and clipboard to the port ---
    void Memo1KeyPress(unsigned char key);
    void Memo1KeyDown(int key, Qt::KeyboardModifiers shift);
    void PopupMenu1Popup();
    void CopytoPort1Click();
    void CopyToPortCRClick();
    void CopytoClipboard1Click();
    void PastefromClipboard1Click();
    void SelectAll1Click();
    void Find1Click();

    // --- meta keys ---
    void LayOutMetaKeys();
    void MetaClick(int tag);
    void MetaSWClick();
    void StringGrid1DblClick();
    // Captions meta1..meta14 from the "Name" cells of the bank shown.
    void CaptionMetaKeys();
    void ReadMetaKeyFile();
    void WriteMetaKeyFile();

    // --- capture view and find ---
    void CaptureClick();
    void FindDialog1Find();
    // Shows the archive viewer at today's date.
    void ButtonArchClick();

    // --- settings panel ---
    void Button2Click();
    void BraClick();
    void BcloseClick();
    void ComboBox2Change();
    void Button3Click();
    void Button4Click();
    void ReadNetworkSettings();
    void WriteNetworkSettings();

    // --- remote access ---
    void StartRemoteAccess();
    void ApplyRemoteAccess();
    void StopRemoteAccess();
    void RemoteRelay(const std::string& text);
    void WSvrSessionAvailable();
    void WCliDataAvailable();
    void WCliSessionClosed();

    // --- NMS forwarding ---
    void StartNms();
    void ApplyNms();
    void StopNms();
    void NmsForward(const std::string& text);

    // --- display font, tray and help ---
    void Memo1FontSet();
    void CBfontsizeChange();
    void CheckBoxBoldClick();
    void TrayIcon1DblClick();
    void ButtonHelpClick();

    // Selected item text of a list, empty with no selection.
    static QString SelectedText(const QComboBox* box);
    // Selects item index, or nothing when the list has no such item.
    static void SelectIndex(QComboBox* box, int index);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Each binds the events of its own part of the window.
    void WireConsole();
    void WireSettings();
    void WireNetwork();
    void CreateTrayIcon();
    void CreateControls();
    void CreateSettingsPanel();
    void LayOut();
    void ReportStartupProblem(const std::string& problem);
    void ReportCaptureProblem(const std::string& problem);
    void AssembleLines(const std::string& text);
    void FlushCapture();
    // Opens the port; a success clears the port error shown in the status bar.
    void OpenPort();
    void ShowPortError(uint32_t code);
    void ApplyFontSize();
    void ApplyBold();

    TForm1Options options_;
    bool terminated_ = false;
    bool shown_ = false;
    bool sessionEnded_ = false;
    bool captureProblemShown_ = false;
    QTimer* refusalTimer_ = nullptr;  // ends a refused remote session a moment later
    uint64_t nmsDropped_ = 0;         // NMS output lost to the bound since the link was last up
    bool nmsProblemShown_ = false;    // one NMS error box until the link works or is set up again
    std::vector<std::string> startupProblems_;
    TSessionEndWatcher* sessionWatcher_ = nullptr;
};
