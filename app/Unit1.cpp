// Start-up, layout and shutdown of the main window.
#include "app/Unit1.h"

#include "support/SysCall.h"

#include "app/AppIcon.h"
#include "app/ImageButton.h"
#include "app/PortListDelegate.h"
#include "app/SessionEnd.h"
#include "app/StatusBar.h"
#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "app/Unit1Ui.h"
#include "core/AlarmNotices.h"
#include "core/AlarmWatch.h"
#include "core/EventLog.h"
#include "core/EventText.h"
#include "core/InstanceBeacon.h"
#include "core/InstanceCheck.h"
#include "core/NmsForwarder.h"
#include "core/PortReopen.h"
#include "core/ReceivePath.h"
#include "core/RemoteAccess.h"
#include "core/SentLines.h"
#include "core/SilenceWatch.h"
#include "serial/CommPortList.h"
#include "serial/SerialNG.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

namespace {

const char* const kSettingsFile = "Setings.ini";

}  // namespace

TForm1::TForm1(TForm1Options options, QWidget* parent) : QMainWindow(parent), options_(std::move(options))
{
    setWindowTitle(QStringLiteral("Tool for access to Morvel PBX"));
    QApplication::setWindowIcon(ProgramIcon());
    ui_ = std::make_unique<Ui>(this);
    // Every control stays whole and usable down to this size.
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    WireWatch();
    WireSerialPort();
    WireReceivePath();
    WireConsole();
    WireSettings();
    WireNetwork();
    WireAlarms();
    FormCreate();
    if (!terminated_)
        CreateTrayIcon();
}

TForm1::~TForm1()
{
    // The serial engine's worker must stop before the parts it reports to go.
    SerialPortNG1.reset();
    ui_->Memo1->IsMarked = nullptr;  // the alarm watch goes before the display
    nms_.reset();
    delete remote_;
    remote_ = nullptr;
}

void TForm1::WireSerialPort()
{
    SerialPortNG1 = options_.SerialPort ? options_.SerialPort() : std::make_unique<TSerialPortNG>();
    SerialPortNG1->SetCommPort("COM2");
    SerialPortNG1->SetClusterSize(12);
    SerialPortNG1->SetErrorNoise(255);
    // The serial hand-off reports an error of the handler itself.
    SerialPortNG1->OnHandlerError = [this](const std::string& text) {
        options_.Dialogs.ErrorBox(QString::fromLocal8Bit(text.c_str()));
    };
    SerialPortNG1->OnRxClusterEvent = [this](TSerialPortNG*) { SerialPortNG1RxClusterEvent(); };
    // Errors of opening (112) and of a device that failed or went away (9803,
    // 9804, 9905) go to the status bar; the port's other reports stay silent.
    // A device that failed (read error, hang-up, EIO) is opened again by itself.
    SerialPortNG1->OnProcessError = [this](TSerialPortNG*, uint32_t place, uint32_t code, const std::string&,
                                           uint8_t noise) {
        if (noise != 0 || reopening_ || portReopen_->Retrying())
            return;
        const bool gone = code == EIO || code == ENXIO || code == ENODEV;
        if (SerialPortNG1->Active() && (place == 9804 || ((place == 9803 || place == 9905) && gone)))
            PortLost(ErrnoText(int(code)));
        else if (place == 112 || place == 9803 || place == 9804 || place == 9905)
            ShowPortError(code);
    };
}

void TForm1::LayOut()
{
    const QRect screen =
        QApplication::primaryScreen() ? QApplication::primaryScreen()->availableGeometry() : QRect(0, 0, 1024, 768);
    resize(screen.width(), screen.height() - 30);
    ApplyLayout(width(), height());
}

// The start-up rules, applied to whatever size the window has now.
void TForm1::ApplyLayout(int w, int h)
{
    Ui& u = *ui_;
    const int band = u.PanelSetMeta->isHidden() ? 0 : kPanelBand;
    u.Memo1->setGeometry(u.Memo1->x(), u.Memo1->y(), w - 20, h - 130 - band);
    u.ImageSetings->move(u.ImageSetings->x(), h - 84);
    u.ImageHelp->move(u.ImageHelp->x(), h - 84);
    u.GroupBox1->move(u.GroupBox1->x(), h - 120);
    u.GroupBox3->move(u.GroupBox3->x(), h - 90);
    // A narrow window moves the settings panel left rather than cut it off.
    const int panelX = std::clamp(w - u.PanelSetMeta->width() - 4, 0, 88);
    u.PanelSetMeta->move(panelX, u.GroupBox1->y() - 125);
    const int barHeight = u.StatusBar1->sizeHint().height();
    u.StatusBar1->setGeometry(0, h - barHeight, w, barHeight);
    PlaceMetaKeys(w);
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    ApplyLayout(event->size().width(), event->size().height());
}

void TForm1::FormCreate()
{
    Ui& u = *ui_;
    const bool another =
        options_.AnotherInstanceRunning ? options_.AnotherInstanceRunning() : IsAnotherInstanceRunning();
    receive_->SetLineLimit(6000);
    if (another) {
        terminated_ = true;
        if (options_.OnAnotherInstance)
            options_.OnAnotherInstance();
        QApplication::quit();
        return;
    }
    if (options_.AnswerOtherInstances)
        new TInstanceBeacon(
            InstanceBeaconName(), [this] { TrayIcon1DblClick(); }, this);
    try {
        eventLog_->Open();
    } catch (const std::exception& e) {
        ReportStartupProblem(e.what());  // events wait and the next one tries again
    }
    LogEvent("program-start", MORVEL_VERSION);
    MetaBank = 0;
    move(1, 1);
    GetCommPorts();
    LayOut();

    receive_->Start();
    u.StatusBar1->SetPanelText(6, QStringLiteral("Normal"));

    std::string problem;
    switch (ReadSettingWords(kSettingsFile, SettingWords, problem)) {
    case SettingsRead::Read:
        SelectIndex(u.ComboBox1, SettingWords[TSettingWords::SpeedIndex]);
        SelectIndex(u.ComboBox2, SettingWords[TSettingWords::PortIndex]);
        u.CheckBox1->setChecked(SettingWords[TSettingWords::SendCR] != 0);
        u.CheckBox2->setChecked(SettingWords[TSettingWords::SendLF] != 0);
        SelectIndex(u.CBfontsize, SettingWords[TSettingWords::FontSizeIndex]);
        break;
    case SettingsRead::Damaged:
        // Start with the design values rather than stop before port and capture are open.
        ReportStartupProblem(problem + "; the design settings are used.");
        [[fallthrough]];
    case SettingsRead::Missing:
        u.CBfontsize->setCurrentIndex(4);
        break;
    }

    try {
        const std::string damage = ReadNetworkSettings();
        if (!damage.empty())
            ReportStartupProblem(damage + " Remote access and NMS forwarding stay off; Save writes the file anew.");
    } catch (const std::exception& e) {
        ReportStartupProblem(e.what());  // remote access and NMS stay off, the passwords empty
    }

    LoadAlarmRules(true);
    ReadExtras();

    // The command line chooses for this run only; Save stores what is chosen as usual.
    if (!options_.PortForRun.empty())
        SelectIndex(u.ComboBox2, u.ComboBox2->findText(QString::fromStdString(options_.PortForRun)));
    if (options_.SpeedForRun)
        SelectIndex(u.ComboBox1, u.ComboBox1->findText(QString::number(*options_.SpeedForRun)));

    SerialPortNG1->SetCommPort(SelectedText(u.ComboBox2).toStdString());
    QString speed = SelectedText(u.ComboBox1);
    bool speedOk = false;
    const uint32_t baud = speed.toUInt(&speedOk);
    if (!speedOk) {
        ReportStartupProblem("The stored speed choice is not in the list; 1200 is used.");
        speed = QStringLiteral("1200");
        u.ComboBox1->setCurrentIndex(0);
    }
    SerialPortNG1->SetBaudRate(speedOk ? baud : 1200);

    u.StatusBar1->SetPanelText(1, QString::fromStdString(SerialPortNG1->CommPort()));
    u.StatusBar1->SetPanelText(2, QStringLiteral("Speed ") + speed);
    u.StatusBar1->SetPanelText(4, u.CheckBox1->isChecked() ? QStringLiteral("CR") : QStringLiteral("No CR"));
    u.StatusBar1->SetPanelText(5, u.CheckBox2->isChecked() ? QStringLiteral("LF") : QStringLiteral("No LF"));

    for (int r = 1; r <= 42; ++r)
        u.StringGrid1->SetCells(0, r, QStringLiteral("Meta Key %1").arg(r));
    u.StringGrid1->SetCells(1, 0, QStringLiteral("Name"));
    u.StringGrid1->SetCells(2, 0, QStringLiteral("Command"));
    u.StringGrid1->SetCells(3, 0, QStringLiteral("CR"));
    u.FitCrColumn();
    LayOutMetaKeys();

    try {
        receive_->OpenCaptureFile();
    } catch (const std::exception& e) {
        ReportStartupProblem(e.what());
    }

    OpenPort();

    try {
        remote_->Start();
        // Not reached when the listener failed.
        nms_->Start();
    } catch (const std::exception& e) {
        ReportStartupProblem(e.what());
    }

    if (options_.WatchSessionEnd)
        sessionWatcher_ = new TSessionEndWatcher(
            [this] {
                EndSession();
                QApplication::quit();
            },
            this);
}

void TForm1::ReportStartupProblem(const std::string& problem)
{
    startupProblems_.push_back(problem);
    if (startupProblems_.size() > 1)
        return;
    // Shown once start-up has finished, so the box holds neither the port nor the capture file.
    QTimer::singleShot(0, this, [this] {
        std::string text;
        for (const auto& p : startupProblems_)
            text += (text.empty() ? "" : "\n") + p;
        startupProblems_.clear();
        options_.Dialogs.ErrorBox(QString::fromStdString(text));
    });
}

void TForm1::PostErrorBox(const std::string& problem)
{
    const QString text = QString::fromLocal8Bit(problem.c_str());
    QTimer::singleShot(0, this, [this, text] { options_.Dialogs.ErrorBox(text); });
}

void TForm1::OpenPort()
{
    if (SerialPortNG1->CommPort().empty())
        return;  // no port chosen: nothing to open, nothing to report
    SerialPortNG1->SetActive(true);
    if (!SerialPortNG1->Active())
        return;
    ui_->StatusBar1->SetPanelText(7, QString());
    LogEvent("port-open", EventText(SerialPortNG1->CommPort()) + " " + std::to_string(SerialPortNG1->BaudRate()));
    silence_->PortOpened();
}

void TForm1::ShowPortError(uint32_t code)
{
    QString text = QStringLiteral("Port error: ") + QString::fromStdString(ErrnoText(int(code)));
    if (code == EACCES || code == EPERM)
        text += QStringLiteral(" (is the user in the dialout group?)");
    ui_->StatusBar1->SetPanelText(7, text);
}

void TForm1::GetCommPorts()
{
    QComboBox* list = ui_->ComboBox2;
    const std::vector<std::string> ports =
        options_.ListSystemPorts ? ListCommPorts(options_.ExtraPorts) : options_.ExtraPorts;
    for (const std::string& port : ports) {
        list->addItem(QString::fromStdString(port));
        const QString description = QString::fromStdString(DescribeCommPort(port));
        list->setItemData(list->count() - 1, description, TPortListDelegate::kDescriptionRole);
        list->setItemData(list->count() - 1, description, Qt::ToolTipRole);
    }
    // The list opens as wide as its widest entry: a port name is never cut.
    list->view()->setMinimumWidth(list->view()->sizeHintForColumn(0) + 24);
    // Filling the list selects nothing; the saved index does that.
    list->setCurrentIndex(-1);
    list->setEditText(QStringLiteral("COM1"));
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TForm1::FormShow()
{
    ui_->Memo1->setFocus();
    ui_->CheckBoxBold->setChecked(SettingWords[TSettingWords::FontBold] != 0);
    Memo1FontSet();
}

bool TForm1::FormClose()
{
    if (!options_.Dialogs.Confirm(this, QStringLiteral("Are yor sure?")))
        return false;
    keyLines_->Flush();
    ClosePort();
    remote_->Stop();
    nms_->Stop();
    receive_->CloseCaptureFile();
    LogEvent("program-end");
    eventLog_->Close();
    closed_ = true;
    try {
        WriteSettingWords(kSettingsFile, SettingWords);
    } catch (const std::exception& e) {
        // Said once, and the window closes all the same: what it ran is stopped already.
        options_.Dialogs.ErrorBox(QString::fromLocal8Bit(e.what()));
    }
    return true;
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (sessionEnded_ || terminated_ || closed_) {
        event->accept();
        return;
    }
    event->ignore();
    options_.Dialogs.Reported([this, event] {
        if (FormClose())
            event->accept();
    })();
}

void TForm1::EndSession()
{
    if (sessionEnded_ || closed_)
        return;
    sessionEnded_ = true;
    keyLines_->Flush();
    ClosePort();
    receive_->CloseCaptureFile();
    LogEvent("program-end");
    eventLog_->Close();
    // Nothing modal while the session ends: nobody may be there to answer.
    try {
        WriteSettingWords(kSettingsFile, SettingWords);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morvel-pbx: %s\n", e.what());
    }
    QApplication::beep();
}
