#pragma once
// TForm1: the main window, "Tool for access to Morvel PBX". It draws and wires:
// the receive path, remote access and NMS forwarding live in core units, and
// each handler here is a short adapter from a control to one of them.
#include "core/SettingWords.h"
#include "support/Clock.h"
#include "support/Dialogs.h"

#include <QMainWindow>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QKeyEvent;
class QMenu;
class QTimer;
class TAlarmNotices;
class TAlarmWatch;
struct TAlarm;
class TFindDialog;
class TForm2;
class TEventLog;
class TNmsForwarder;
class TPortReopen;
struct TRemoteEvent;
class TReceivePath;
class TRemoteAccess;
class TSentLines;
class TSerialPortNG;
class TSessionEndWatcher;
class TSilenceWatch;
class TTrayIcon;
class TTrayShell;

struct TForm1Options {
    NowFunction Now = SystemNow;
    TDialogs Dialogs = TDialogs::Standard();
    std::function<bool()> AnotherInstanceRunning;            // the /proc check when empty
    std::vector<std::string> ExtraPorts;                     // --port PATH, listed first
    bool ListSystemPorts = true;                             // tests list only their own ports
    bool WatchSessionEnd = true;                             // SIGTERM/SIGHUP end the session
    std::function<void(int ms)> Pause;                       // a wait on the main thread; QThread::msleep when empty
    std::function<std::unique_ptr<TTrayShell>()> TrayShell;  // the desktop's notification area when empty
    std::function<std::unique_ptr<TSerialPortNG>()> SerialPort;  // a new TSerialPortNG when empty
    std::string PortForRun;                                      // chosen for this run over the saved choice (--port)
    std::optional<uint32_t> SpeedForRun;                         // likewise (--speed)
    bool AnswerOtherInstances = true;                            // a second start brings this window to the front
    std::function<void()> OnAnotherInstance;                     // this start ends because another copy runs
    // Each event as it goes to the event log: its kind and its escaped detail.
    std::function<void(const std::string& kind, const std::string& detail)> OnEvent;
    std::function<void()> Beep;  // QApplication::beep when empty
    int PortRetryMs = 2000;      // a lost port is opened again this often
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(TForm1Options options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // Another instance was running: the program is to end at once.
    bool Terminated() const { return terminated_; }
    void SetArchiveWindow(TForm2* form) { Form2 = form; }

    // The smallest window in which every control stays visible and usable.
    static constexpr int kMinimumWidth = 610;
    static constexpr int kMinimumHeight = 320;
    // The band of the display the settings panel takes while it is open.
    static constexpr int kPanelBand = 130;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private slots:
    // --- receive path and capture view ---
    void SerialPortNG1RxClusterEvent();
    void CaptureClick();
    void FindDialog1Find();
    void ButtonArchClick();

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
    void MetaClick(int tag);
    void MetaSWClick();
    void StringGrid1DblClick();

    // --- settings panel ---
    void Button2Click();
    void BraClick();
    void BcloseClick();
    void ComboBox2Change();
    void Button3Click();
    void Button4Click();
    void BwatchClick();
    void BcloseWatchClick();

    // --- display font, tray and help ---
    void CBfontsizeChange();
    void CheckBoxBoldClick();
    void TrayIcon1DblClick();
    void ButtonHelpClick();

private:
    struct Ui;

    // --- start-up and shutdown ---
    void FormCreate();
    void FormShow();
    // Asks "Are yor sure?"; true when the window may close.
    bool FormClose();
    // The user's session is ending: close port and capture file, save the words; nothing modal.
    void EndSession();
    void GetCommPorts();
    void LayOut();
    void ApplyLayout(int width, int height);
    void ReportStartupProblem(const std::string& problem);
    // Shown from the event loop: a modal box inside the receive event would hold the serial worker.
    void PostErrorBox(const std::string& problem);

    // Each binds the events of its own part of the window.
    void WireSerialPort();
    void WireReceivePath();
    void WireConsole();
    // Runs a terminal shortcut (copy, paste to the port, find); false for any other key.
    bool TerminalShortcut(const QKeyEvent* event);
    void WireSettings();
    void WireNetwork();
    void CreateTrayIcon();
    // Minimizing into the tray takes the archive viewer and the help viewer along.
    void HideOtherWindows();

    // Opens the port; a success clears the port error shown in the status bar.
    void OpenPort();
    void ShowPortError(uint32_t code);
    void ShowLineCount();
    void FlushCapture();
    // Leaves the capture view first when it is on.
    void EndCaptureView();

    void LayOutMetaKeys();
    void PlaceMetaKeys(int windowWidth);
    // Captions meta1..meta14 from the "Name" cells of the bank shown.
    void CaptionMetaKeys();
    void ReadMetaKeyFile();
    void ReadExtras();
    void WriteExtras();
    void WriteMetaKeyFile();
    // What is wrong with a damaged "Setings.str", empty when nothing is.
    std::string ReadNetworkSettings();
    void WriteNetworkSettings();

    // --- alarm watch ---
    void WireAlarms();
    // Reads "Watch.txt" into the rules and the editor; a bad rule is reported once.
    void LoadAlarmRules(bool atStart);
    // Writes the editor's rules when they changed, then reads them back.
    void SaveAlarmRules();
    void AlarmRaised(const TAlarm& alarm);
    // The counter's click: shows the oldest unacknowledged alarm line and acknowledges it.
    void AlarmsClick();
    void ShowAlarmCount();
    // Tray notices go out while the operator is away from the window.
    bool OperatorAway() const;
    void AlarmNoticeTick();
    // Asks the settings password until it is right; false when the operator gives up.
    bool AskSettingsPassword();

    // --- the operator's watch: event log, a lost port, silence, the remote session ---
    void WireWatch();
    // The one way into the event log; detail is escaped already (EventText.h).
    void LogEvent(std::string_view kind, const std::string& detail = {});
    // What the operator sends, one event a line where it comes key by key.
    void LogSent(const std::string& source, std::string_view bytes);
    void ClosePort();
    void PortLost(const std::string& cause);
    bool ReopenPort();
    void PortBack();
    // True while the port is lost: the operator's input is refused with a beep.
    bool RefuseWhileLost();
    void ShowSilence(const QDateTime& since);
    void EndSilence();
    void RemoteEvent(const TRemoteEvent& event);
    void ShowRemoteSession();

    void Memo1FontSet();
    void ApplyFontSize();
    void ApplyBold();

    TForm1Options options_;
    std::unique_ptr<Ui> ui_;
    std::unique_ptr<TSerialPortNG> SerialPortNG1;
    std::unique_ptr<TReceivePath> receive_;
    QTimer* captureFlush_ = nullptr;  // capture lines while the display does not refresh
    TRemoteAccess* remote_ = nullptr;
    std::unique_ptr<TNmsForwarder> nms_;
    TFindDialog* FindDialog1 = nullptr;
    TTrayIcon* TrayIcon1 = nullptr;
    QMenu* trayMenu_ = nullptr;
    std::vector<QPointer<QWidget>> hiddenWithMain_;  // shown again on restore
    TForm2* Form2 = nullptr;
    TSessionEndWatcher* sessionWatcher_ = nullptr;
    std::unique_ptr<TAlarmWatch> alarms_;
    std::unique_ptr<TAlarmNotices> alarmNotices_;
    QTimer* alarmNoticeTimer_ = nullptr;
    std::string watchText_;                  // "Watch.txt" as last read, UTF-8
    std::vector<std::string> ruleProblems_;  // of the last reading, each reported once
    std::unique_ptr<TEventLog> eventLog_;
    TPortReopen* portReopen_ = nullptr;
    TSilenceWatch* silence_ = nullptr;
    TSentLines* keyLines_ = nullptr;
    TSentLines* remoteLines_ = nullptr;
    std::string remoteLineAddress_;  // whose input remoteLines_ holds
    QTimer* lostFlash_ = nullptr;
    int lostFlashes_ = 0;
    bool reopening_ = false;  // the port's own open errors stay quiet meanwhile

    TSettingWords SettingWords;
    uint8_t MetaBank = 0;
    uint16_t MetaStep = 0;
    int FindPosition = 0;
    int shownLineCount_ = -1;  // the count status panel 0 shows

    bool terminated_ = false;
    bool shown_ = false;
    bool sessionEnded_ = false;
    bool closed_ = false;  // the operator's close went through
    std::vector<std::string> startupProblems_;
};
