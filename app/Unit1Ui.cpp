// The controls of the main window: names, design texts and geometry.
#include "app/Unit1Ui.h"

#include "app/CommandLine.h"
#include "app/Contrast.h"
#include "app/ImageButton.h"
#include "app/PortListDelegate.h"
#include "app/StatusBar.h"
#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "support/PasswordQuery.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>

namespace {

template <typename T>
T* Named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

QColor LiveTextColour(const QPalette& palette)
{
    const QColor window = palette.color(QPalette::Base);
    // Relative luminance of sRGB; against black the contrast ratio is (L + 0.05) / 0.05.
    auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const double luminance =
        0.2126 * channel(window.redF()) + 0.7152 * channel(window.greenF()) + 0.0722 * channel(window.blueF());
    return (luminance + 0.05) / 0.05 < 4.5 ? QColor(Qt::white) : window;
}

QString SelectedText(const QComboBox* box)
{
    return box->currentIndex() < 0 ? QString() : box->itemText(box->currentIndex());
}

void SelectIndex(QComboBox* box, int index) { box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1); }

TForm1::Ui::Ui(QMainWindow* window)
{
    auto* canvas = new QWidget(window);
    window->setCentralWidget(canvas);

    Memo1 = Named(new TTerminalMemo(canvas), "Memo1");
    Memo1->setGeometry(8, 4, 600, 300);
    Memo1->SetColours(Qt::black, LiveTextColour(window->palette()));
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

    StatusBar1 = Named(new TStatusBar(canvas), "StatusBar1");
    QObject::connect(Memo1, &TTerminalMemo::Refreshed, StatusBar1, &TStatusBar::PaintChanged);
    StatusBar1->AddPanel(QStringLiteral("Lines"), 80, Qt::AlignLeft);
    StatusBar1->AddPanel(QStringLiteral("Com Port"), 70, Qt::AlignHCenter);
    StatusBar1->AddPanel(QStringLiteral("Speed"), 90, Qt::AlignHCenter);
    StatusBar1->AddPanel(QStringLiteral("File Open"), 160, Qt::AlignHCenter);
    StatusBar1->AddPanel(QStringLiteral("CR"), 40, Qt::AlignHCenter);
    StatusBar1->AddPanel(QStringLiteral("LF"), 40, Qt::AlignHCenter);
    StatusBar1->AddPanel(QStringLiteral("Capture"), 50, Qt::AlignHCenter);
    StatusBar1->AddPanel(QString(), 50, Qt::AlignLeft);
    // Remote access: refused passwords and penalties.
    StatusBar1->AddPanel(QString(), 240, Qt::AlignLeft);
    StatusBar1->AddPanel(QString(), 80, Qt::AlignLeft);  // kAlarmPanel
    StatusBar1->SetPanelToolTip(kAlarmPanel, QStringLiteral("Click: show the oldest unacknowledged alarm line"));
    // Who is logged in remotely, and with which access.
    StatusBar1->AddPanel(QString(), 180, Qt::AlignLeft);

    PopupMenu1 = Named(new QMenu(window), "PopupMenu1");
    CopytoPort1 = Named(PopupMenu1->addAction(QStringLiteral("Copy to Port")), "CopytoPort1");
    CopyToPortCR = Named(PopupMenu1->addAction(QStringLiteral("Copy to Port and Enter")), "CopyToPortCR");
    CopytoClipboard1 = Named(PopupMenu1->addAction(QStringLiteral("Copy to Clipboard")), "CopytoClipboard1");
    PastefromClipboard1 =
        Named(PopupMenu1->addAction(QStringLiteral("Paste from Clipboard to Port")), "PastefromClipboard1");
    SelectAll1 = Named(PopupMenu1->addAction(QStringLiteral("Select All")), "SelectAll1");
    Find1 = Named(PopupMenu1->addAction(QStringLiteral("Find")), "Find1");
    // Shown in the menu; the display itself runs them, so they count only while the menu is open.
    const std::pair<QAction*, QList<QKeySequence>> shortcuts[] = {
        {CopytoClipboard1, {QKeySequence(QStringLiteral("Ctrl+Shift+C"))}},
        {PastefromClipboard1,
         {QKeySequence(QStringLiteral("Ctrl+Shift+V")), QKeySequence(QStringLiteral("Shift+Ins"))}},
        {Find1, {QKeySequence(QStringLiteral("Ctrl+Shift+F"))}},
    };
    for (const auto& [action, keys] : shortcuts) {
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setShortcutVisibleInContextMenu(true);
    }

    CreateSettingsPanel(canvas);
}

void TForm1::Ui::CreateSettingsPanel(QWidget* canvas)
{
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
    for (const uint32_t speed : ListSpeeds())
        ComboBox1->addItem(QString::number(speed));
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setGeometry(410, 24, 85, 22);
    ComboBox2 = Named(new QComboBox(PanelSetMeta), "ComboBox2");
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
    ComboBox2->setEditText(QStringLiteral("COM1"));
    ComboBox2->setGeometry(500, 24, 97, 22);
    ComboBox2->setItemDelegate(new TPortListDelegate(ComboBox2));
    ComboBox2->view()->setTextElideMode(Qt::ElideNone);
    LabelFontSize = Named(new QLabel(QStringLiteral("Font Size"), PanelSetMeta), "LabelFontSize");
    LabelFontSize->setGeometry(410, 50, 55, 22);
    CBfontsize = Named(new QComboBox(PanelSetMeta), "CBfontsize");
    CBfontsize->addItems({"8", "9", "10", "11", "12", "14", "16", "18", "20", "22", "24"});
    CBfontsize->setGeometry(465, 50, 50, 22);
    CheckBoxBold = Named(new QCheckBox(QStringLiteral("Bold"), PanelSetMeta), "CheckBoxBold");
    CheckBoxBold->setGeometry(522, 50, 75, 22);
    Bra = Named(new QPushButton(QStringLiteral("RA NMS"), PanelSetMeta), "Bra");
    Bra->setGeometry(410, 75, 56, 21);
    LabelQuiet = Named(new QLabel(QStringLiteral("Quiet minutes"), PanelSetMeta), "LabelQuiet");
    LabelQuiet->setGeometry(468, 75, 86, 21);
    SpinQuiet = Named(new QSpinBox(PanelSetMeta), "SpinQuiet");
    SpinQuiet->setRange(0, 24 * 60);
    // No arrows: the row has room for four digits only; the arrow keys still step.
    SpinQuiet->setButtonSymbols(QAbstractSpinBox::NoButtons);
    SpinQuiet->setToolTip(QStringLiteral("Quiet minutes: a port silent this long is reported; 0 is off"));
    SpinQuiet->setGeometry(555, 75, 42, 21);
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
            MaskWithStars(box);
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
    // The alarm rules sit behind the same password as the network settings.
    Bwatch = Named(new QPushButton(QStringLiteral("Alarm Rules"), PsetRA), "Bwatch");
    Bwatch->setGeometry(244, 84, 132, 24);
    Bclose = Named(new QPushButton(QStringLiteral("\u00D7"), PsetRA), "Bclose");
    Bclose->setGeometry(380, 2, 16, 16);

    PsetWatch = Named(new QFrame(PanelSetMeta), "PsetWatch");
    PsetWatch->setFrameShape(QFrame::Panel);
    PsetWatch->setAutoFillBackground(true);
    PsetWatch->setGeometry(4, 4, 400, 113);
    PsetWatch->hide();
    (new QLabel(QStringLiteral("Alarm rules: one regular expression a line, # for a comment"), PsetWatch))
        ->setGeometry(4, 2, 370, 16);
    EditWatch = Named(new QPlainTextEdit(PsetWatch), "EditWatch");
    EditWatch->setGeometry(4, 20, 392, 89);
    EditWatch->setLineWrapMode(QPlainTextEdit::NoWrap);
    EditWatch->setTabChangesFocus(true);
    BcloseWatch = Named(new QPushButton(QStringLiteral("\u00D7"), PsetWatch), "BcloseWatch");
    BcloseWatch->setGeometry(380, 2, 16, 16);
}

void TForm1::Ui::FitCrColumn()
{
    const int wanted = StringGrid1->horizontalHeader()->sectionSizeHint(2);
    const int grow = std::max(0, wanted - StringGrid1->columnWidth(2));
    StringGrid1->setColumnWidth(2, StringGrid1->columnWidth(2) + grow);
    StringGrid1->setColumnWidth(1, StringGrid1->columnWidth(1) - grow);
}
