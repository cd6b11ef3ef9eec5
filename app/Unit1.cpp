#include "app/Unit1.h"

#include "app/AppIcon.h"
#include "app/ImageButton.h"
#include "app/SessionEnd.h"
#include "app/StatusBar.h"
#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "core/InstanceCheck.h"
#include "net/TnCnx.h"
#include "net/WSocket.h"
#include "serial/CommPortList.h"
#include "serial/SerialNG.h"
#include "support/Dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstring>

namespace {

const char* const kSettingsFile = "Setings.ini";

template <typename T>
T* Named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

TForm1::TForm1(TForm1Options options, QWidget* parent) : QMainWindow(parent), options_(std::move(options))
{
    setWindowTitle(QStringLiteral("Tool for access to Morvel PBX"));
    QApplication::setWindowIcon(ProgramIcon());
    CreateControls();
    WireConsole();
    WireSettings();
    WireNetwork();
    FormCreate();
    if (!terminated_)
        CreateTrayIcon();
}

TForm1::~TForm1()
{
    // No socket event may reach the window while its parts are taken down.
    if (WSvr) {
        WSvr->OnSessionAvailable = nullptr;
        WCli->OnDataAvailable = nullptr;
        WCli->OnSessionClosed = nullptr;
    }
    // The serial engine's worker must stop before the controls it reports to go.
    SerialPortNG1.reset();
    TnCnx.reset();
    WTmp.reset();
    WCli.reset();
    WSvr.reset();
}

QString TForm1::SelectedText(const QComboBox* box)
{
    return box->currentIndex() < 0 ? QString() : box->itemText(box->currentIndex());
}

void TForm1::SelectIndex(QComboBox* box, int index)
{
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

void TForm1::CreateControls()
{
    auto* canvas = new QWidget(this);
    setCentralWidget(canvas);

    Memo1 = Named(new TTerminalMemo(canvas), "Memo1");
    Memo1->setGeometry(8, 4, 600, 300);
    Memo1->SetColours(Qt::black, palette().color(QPalette::Base));
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(16);
    Memo1->setFont(font);

    GroupBox1 = Named(new QGroupBox(canvas), "GroupBox1");
    GroupBox1->setGeometry(8, 310, 600, 30);
    MetaSW = Named(new QPushButton(QStringLiteral("1"), GroupBox1), "MetaSW");
    MetaSW->setGeometry(4, 9, 33, 17);
    for (int t = 1; t <= 14; ++t) {
        meta[size_t(t)] = new QPushButton(GroupBox1);
        meta[size_t(t)]->setObjectName(QStringLiteral("meta%1").arg(t));
        meta[size_t(t)]->setProperty("tag", t);
        meta[size_t(t)]->setGeometry(50 + (t - 1) * 40, 9, 38, 17);
    }

    QPixmap icon = QApplication::windowIcon().pixmap(32, 32);
    ImageSetings = Named(new TImageButton(canvas), "ImageSetings");
    ImageSetings->setGeometry(8, 350, 32, 32);
    ImageSetings->setToolTip(QStringLiteral("Settings"));
    ImageSetings->setPixmap(icon);
    ImageHelp = Named(new TImageButton(canvas), "ImageHelp");
    ImageHelp->setGeometry(48, 350, 32, 32);
    ImageHelp->setToolTip(QStringLiteral("Help"));
    ImageHelp->setPixmap(icon);

    GroupBox3 = Named(new QGroupBox(canvas), "GroupBox3");
    GroupBox3->setGeometry(96, 344, 204, 40);
    Capture = Named(new QPushButton(QStringLiteral("View Capture"), GroupBox3), "Capture");
    Capture->setGeometry(8, 10, 92, 24);
    ButtonArch = Named(new QPushButton(QStringLiteral("Archive"), GroupBox3), "ButtonArch");
    ButtonArch->setGeometry(104, 10, 92, 24);

    CreateSettingsPanel();

    StatusBar1 = Named(new TStatusBar(canvas), "StatusBar1");
    StatusBar1->AddPanel(QStringLiteral("Lines"), 80, Qt::AlignLeft);
    StatusBar1->AddPanel(QStringLiteral("Com Port"), 70, Qt::AlignHCenter);
    StatusBar1->AddPanel(QStringLiteral("Speed"), 90, Qt::AlignHCenter);
    StatusBar1->AddPanel(QStringLiteral("File Open"), 160, Qt::AlignHCenter);
    StatusBar1->AddPanel(QStringLiteral("CR"), 40, Qt::AlignHCenter);
    StatusBar1->AddPanel(QStringLiteral("LF"), 40, Qt::AlignHCenter);
    StatusBar1->AddPanel(QStringLiteral("Capture"), 50, Qt::AlignHCenter);
    StatusBar1->AddPanel(QString(), 50, Qt::AlignLeft);

    PopupMenu1 = Named(new QMenu(this), "PopupMenu1");
    CopytoPort1 = Named(PopupMenu1->addAction(QStringLiteral("Copy to Port")), "CopytoPort1");
    CopyToPortCR = Named(PopupMenu1->addAction(QStringLiteral("Copy to Port and Enter")), "CopyToPortCR");
    CopytoClipboard1 = Named(PopupMenu1->addAction(QStringLiteral("Copy to Clipboard")), "CopytoClipboard1");
    PastefromClipboard1 =
        Named(PopupMenu1->addAction(QStringLiteral("Paste from Clipboard to Port")), "PastefromClipboard1");
    SelectAll1 = Named(PopupMenu1->addAction(QStringLiteral("Select All")), "SelectAll1");
    Find1 = Named(PopupMenu1->addAction(QStringLiteral("Find")), "Find1");

    SerialPortNG1 = std::make_unique<TSerialPortNG>();
    SerialPortNG1->SetCommPort("COM2");
    SerialPortNG1->SetClusterSize(12);
    SerialPortNG1->SetErrorNoise(255);
    // The serial hand-off reports an error of the handler itself.
    SerialPortNG1->OnHandlerError = [](const std::string& text) {
        Dialogs::ErrorBox(QString::fromLocal8Bit(text.c_str()));
    };
    SerialPortNG1->OnRxClusterEvent = [this](TSerialPortNG*) { SerialPortNG1RxClusterEvent(); };
    // Errors of opening (112) and of a device that failed or went away (9803,
    // 9804, 9905) go to the status bar; the port's other reports stay silent.
    SerialPortNG1->OnProcessError = [this](TSerialPortNG*, uint32_t place, uint32_t code, const std::string&,
                                           uint8_t noise) {
        if (noise == 0 && (place == 112 || place == 9803 || place == 9804 || place == 9905))
            ShowPortError(code);
    };
}

void TForm1::CreateSettingsPanel()
{
    QWidget* canvas = centralWidget();
    PanelSetMeta = Named(new QFrame(canvas), "PanelSetMeta");
    PanelSetMeta->setFrameShape(QFrame::Panel);
    PanelSetMeta->setGeometry(88, 0, 601, 121);
    PanelSetMeta->hide();

    StringGrid1 = Named(new TStringGrid(4, 43, PanelSetMeta), "StringGrid1");
    StringGrid1->setGeometry(4, 4, 400, 113);
    StringGrid1->setColumnWidth(0, 70);
    StringGrid1->setColumnWidth(1, 216);
    StringGrid1->setColumnWidth(2, 27);
    StringGrid1->verticalHeader()->setFixedWidth(70);
    StringGrid1->verticalHeader()->setDefaultSectionSize(18);
    StringGrid1->setEditTriggers(QAbstractItemView::AllEditTriggers);

    CheckBox1 = Named(new QCheckBox(QStringLiteral("Send CR"), PanelSetMeta), "CheckBox1");
    CheckBox1->setGeometry(410, 4, 90, 18);
    CheckBox1->setChecked(true);
    CheckBox2 = Named(new QCheckBox(QStringLiteral("Send LF"), PanelSetMeta), "CheckBox2");
    CheckBox2->setGeometry(505, 4, 90, 18);
    ComboBox1 = Named(new QComboBox(PanelSetMeta), "ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->addItems({"1200", "2400", "4800", "9600", "14400", "19200", "38400"});
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setGeometry(410, 24, 85, 22);
    ComboBox2 = Named(new QComboBox(PanelSetMeta), "ComboBox2");
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
    ComboBox2->setEditText(QStringLiteral("COM1"));
    ComboBox2->setGeometry(500, 24, 97, 22);
    LabelFontSize = Named(new QLabel(QStringLiteral("Font Size"), PanelSetMeta), "LabelFontSize");
    LabelFontSize->setGeometry(410, 50, 55, 22);
    CBfontsize = Named(new QComboBox(PanelSetMeta), "CBfontsize");
    CBfontsize->addItems({"8", "9", "10", "11", "12", "14", "16", "18", "20", "22", "24"});
    CBfontsize->setGeometry(465, 50, 50, 22);
    CheckBoxBold = Named(new QCheckBox(QStringLiteral("Bold"), PanelSetMeta), "CheckBoxBold");
    CheckBoxBold->setGeometry(522, 50, 75, 22);
    Bra = Named(new QPushButton(QStringLiteral("RA NMS"), PanelSetMeta), "Bra");
    Bra->setGeometry(410, 75, 85, 21);
    Button3 = Named(new QPushButton(QStringLiteral("Save"), PanelSetMeta), "Button3");
    Button3->setGeometry(410, 98, 85, 21);
    Button4 = Named(new QPushButton(QStringLiteral("Cancel"), PanelSetMeta), "Button4");
    Button4->setGeometry(500, 98, 97, 21);

    PsetRA = Named(new QFrame(PanelSetMeta), "PsetRA");
    PsetRA->setFrameShape(QFrame::Panel);
    PsetRA->setAutoFillBackground(true);
    PsetRA->setGeometry(4, 4, 400, 113);
    PsetRA->hide();

    // A labelled edit: the caption labelWidth wide, the field beside it.
    auto edit = [](QWidget* parent, const char* name, const QString& label, QRect field, int labelWidth, bool masked) {
        (new QLabel(label, parent))->setGeometry(field.x() - labelWidth, field.y(), labelWidth - 2, field.height());
        auto* box = Named(new QLineEdit(parent), name);
        box->setGeometry(field);
        if (masked)
            box->setEchoMode(QLineEdit::Password);
        return box;
    };

    GBra = Named(new QGroupBox(QStringLiteral("Remote Access"), PsetRA), "GBra");
    GBra->setGeometry(2, 0, 238, 111);
    CBoxEnDi = Named(new QCheckBox(QStringLiteral("Enable"), GBra), "CBoxEnDi");
    CBoxEnDi->setGeometry(6, 16, 80, 18);
    EipAddRA = edit(GBra, "EipAddRA", QStringLiteral("IP address"), {74, 34, 156, 20}, 68, false);
    EportRA = edit(GBra, "EportRA", QStringLiteral("Port"), {74, 56, 60, 20}, 68, false);
    GBpassRA = Named(new QGroupBox(QStringLiteral("Password"), GBra), "GBpassRA");
    GBpassRA->setGeometry(2, 76, 234, 34);
    EpassRA = edit(GBpassRA, "EpassRA", QStringLiteral("Full Access"), {72, 12, 52, 20}, 68, true);
    EpassRAviewer = edit(GBpassRA, "EpassRAviewer", QStringLiteral("Viewer"), {174, 12, 56, 20}, 46, true);

    GBtraps = Named(new QGroupBox(QStringLiteral("NMS"), PsetRA), "GBtraps");
    GBtraps->setGeometry(244, 0, 132, 78);
    CBoxTrap = Named(new QCheckBox(QStringLiteral("Enable"), GBtraps), "CBoxTrap");
    CBoxTrap->setGeometry(6, 16, 80, 18);
    EipTrap = edit(GBtraps, "EipTrap", QStringLiteral("Host"), {40, 34, 88, 20}, 36, false);
    EportTrap = edit(GBtraps, "EportTrap", QStringLiteral("Port"), {40, 56, 50, 20}, 36, false);
    EsetPass = edit(PsetRA, "EsetPass", QStringLiteral("Password"), {306, 86, 88, 20}, 62, true);
    Bclose = Named(new QPushButton(QStringLiteral("\u00D7"), PsetRA), "Bclose");
    Bclose->setGeometry(380, 2, 16, 16);
}

void TForm1::LayOut()
{
    const QRect screen =
        QApplication::primaryScreen() ? QApplication::primaryScreen()->availableGeometry() : QRect(0, 0, 1024, 768);
    resize(screen.width(), screen.height() - 30);
    const int w = screen.width();
    const int h = screen.height() - 30;
    centralWidget()->resize(w, h);
    Memo1->setGeometry(Memo1->x(), Memo1->y(), w - 20, h - 130);
    ImageSetings->move(ImageSetings->x(), h - 84);
    ImageHelp->move(ImageHelp->x(), h - 84);
    GroupBox1->move(GroupBox1->x(), h - 120);
    GroupBox3->move(GroupBox3->x(), h - 90);
    PanelSetMeta->move(PanelSetMeta->x(), GroupBox1->y() - 125);
    const int barHeight = StatusBar1->sizeHint().height();
    StatusBar1->setGeometry(0, h - barHeight, w, barHeight);
}

void TForm1::FormCreate()
{
    const bool another =
        options_.AnotherInstanceRunning ? options_.AnotherInstanceRunning() : IsAnotherInstanceRunning();
    LineLimit = 6000;
    if (another) {
        terminated_ = true;
        QApplication::quit();
        return;
    }
    MetaBank = 0;
    move(1, 1);
    GetCommPorts();
    LayOut();

    Memo1->AddLine();
    LineIndex = Memo1->LineCount() - 1;
    StatusBar1->SetPanelText(6, QStringLiteral("Normal"));
    CaptureViewMode = false;
    HeldText.clear();

    std::string problem;
    switch (ReadSettingWords(kSettingsFile, SettingWords, problem)) {
    case SettingsRead::Read:
        SelectIndex(ComboBox1, SettingWords[TSettingWords::SpeedIndex]);
        SelectIndex(ComboBox2, SettingWords[TSettingWords::PortIndex]);
        CheckBox1->setChecked(SettingWords[TSettingWords::SendCR] != 0);
        CheckBox2->setChecked(SettingWords[TSettingWords::SendLF] != 0);
        SelectIndex(CBfontsize, SettingWords[TSettingWords::FontSizeIndex]);
        break;
    case SettingsRead::Damaged:
        // Start with the design values rather than stop before port and capture are open.
        ReportStartupProblem(problem + "; the design settings are used.");
        [[fallthrough]];
    case SettingsRead::Missing:
        CBfontsize->setCurrentIndex(4);
        break;
    }

    try {
        ReadNetworkSettings();
    } catch (const std::exception& e) {
        ReportStartupProblem(e.what());  // remote access and NMS stay off, the passwords empty
    }

    SerialPortNG1->SetCommPort(SelectedText(ComboBox2).toStdString());
    QString speed = SelectedText(ComboBox1);
    bool speedOk = false;
    const uint32_t baud = speed.toUInt(&speedOk);
    if (!speedOk) {
        ReportStartupProblem("The stored speed choice is not in the list; 1200 is used.");
        speed = QStringLiteral("1200");
        ComboBox1->setCurrentIndex(0);
    }
    SerialPortNG1->SetBaudRate(speedOk ? baud : 1200);

    StatusBar1->SetPanelText(1, QString::fromStdString(SerialPortNG1->CommPort()));
    StatusBar1->SetPanelText(2, QStringLiteral("Speed ") + speed);
    StatusBar1->SetPanelText(4, CheckBox1->isChecked() ? QStringLiteral("CR") : QStringLiteral("No CR"));
    StatusBar1->SetPanelText(5, CheckBox2->isChecked() ? QStringLiteral("LF") : QStringLiteral("No LF"));

    for (int r = 1; r <= 42; ++r)
        StringGrid1->SetCells(0, r, QStringLiteral("Meta Key %1").arg(r));
    StringGrid1->SetCells(1, 0, QStringLiteral("Name"));
    StringGrid1->SetCells(2, 0, QStringLiteral("Command"));
    StringGrid1->SetCells(3, 0, QStringLiteral("CR"));
    LayOutMetaKeys();

    try {
        OpenCaptureFile();
    } catch (const std::exception& e) {
        ReportStartupProblem(e.what());
    }

    OpenPort();

    RemoteAuthorised = false;
    RemoteFullAccess = false;
    RemoteLoginText.clear();
    NmsPending.clear();
    try {
        StartRemoteAccess();
        // Not reached when the listener failed.
        StartNms();
    } catch (const std::exception& e) {
        ReportStartupProblem(e.what());
    }

    if (options_.WatchSessionEnd)
        sessionWatcher_ = new TSessionEndWatcher(
            [this] {
                Dialogs::Reported([this] { EndSession(); })();
                QApplication::quit();
            },
            this);
    connect(qApp, &QGuiApplication::commitDataRequest, this, Dialogs::Reported([this] { EndSession(); }));
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
        Dialogs::ErrorBox(QString::fromStdString(text));
    });
}

void TForm1::OpenPort()
{
    SerialPortNG1->SetActive(true);
    if (SerialPortNG1->Active())
        StatusBar1->SetPanelText(7, QString());
}

void TForm1::ShowPortError(uint32_t code)
{
    QString text = QStringLiteral("Port error: ") + QString::fromLocal8Bit(std::strerror(int(code)));
    if (code == EACCES || code == EPERM)
        text += QStringLiteral(" (is the user in the dialout group?)");
    StatusBar1->SetPanelText(7, text);
}

void TForm1::GetCommPorts()
{
    const std::vector<std::string> ports =
        options_.ListSystemPorts ? ListCommPorts(options_.ExtraPorts) : options_.ExtraPorts;
    for (const std::string& port : ports)
        ComboBox2->addItem(QString::fromStdString(port));
    // Filling the list selects nothing; the saved index does that.
    ComboBox2->setCurrentIndex(-1);
    ComboBox2->setEditText(QStringLiteral("COM1"));
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
    Memo1->setFocus();
    CheckBoxBold->setChecked(SettingWords[TSettingWords::FontBold] != 0);
    Memo1FontSet();
}

bool TForm1::FormClose()
{
    if (!Dialogs::Confirm(this, QStringLiteral("Are yor sure?")))
        return false;
    SerialPortNG1->SetActive(false);
    StopRemoteAccess();
    StopNms();
    CaptureFile.Close();
    WriteSettingWords(kSettingsFile, SettingWords);
    return true;
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (sessionEnded_ || terminated_) {
        event->accept();
        return;
    }
    event->ignore();
    Dialogs::Reported([this, event] {
        if (FormClose())
            event->accept();
    })();
}

void TForm1::EndSession()
{
    if (sessionEnded_)
        return;
    sessionEnded_ = true;
    SerialPortNG1->SetActive(false);
    CaptureFile.Close();
    WriteSettingWords(kSettingsFile, SettingWords);
    QApplication::beep();
}
