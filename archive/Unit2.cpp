#include "archive/Unit2.h"

#include "archive/ArchiveFiles.h"
#include "archive/ArchiveMemo.h"
#include "archive/DaysCalendar.h"
#include "archive/ExportDialog.h"
#include "archive/MemoFiller.h"
#include "archive/SearchDaysDialog.h"
#include "archive/SpinEdit.h"
#include "core/CaptureNames.h"
#include "support/CodePage.h"
#include "support/Dialogs.h"
#include "support/FindDialog.h"
#include "support/TextSearch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHideEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

const char* const kMonthNames[12] = {
    "Януари", "Февруари", "Март",      "Април",    "Май",     "Юни",
    "Юли",    "Август",   "Септември", "Октомври", "Ноември", "Декември",
};

QFont FixedsysFont()
{
    QFont font(QStringLiteral("Fixedsys"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(13);
    if (!QFontInfo(font).fixedPitch()) {
        const QString family = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
        font.setFamily(family);
    }
    return font;
}

// The display's text as bytes, lines separated by CR LF, and where its
// continued rows begin.
TArchiveText DocumentText(const QTextDocument& document)
{
    std::string bytes;
    std::vector<size_t> rowBreaks;
    bytes.reserve(size_t(document.characterCount()) + size_t(document.blockCount()));
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin()) {
            if (block.userState() == TMemoFiller::kContinuedRow)
                rowBreaks.push_back(bytes.size());
            else
                bytes += "\r\n";
        }
        for (QChar ch : block.text()) {
            const int b = CodePage::CharToByte(ch);
            bytes.push_back(b < 0 ? '?' : char(b));
        }
    }
    TArchiveText text;
    text.Assign(std::move(bytes), std::move(rowBreaks));
    return text;
}

}  // namespace

TForm2::TForm2(TDialogs dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      dialogs_(std::move(dialogs))
{
    // The program ends with its main window, open viewer or not.
    setAttribute(Qt::WA_QuitOnClose, false);
    CreateControls();
    FormCreate();
}

TForm2::~TForm2() = default;

void TForm2::CreateControls()
{
    setWindowTitle(QStringLiteral("Archive"));

    SpinEditD = new TSpinEdit(this);
    SpinEditD->setObjectName(QStringLiteral("SpinEditD"));
    SpinEditD->setRange(0, 32);
    SpinEditD->setValue(1);
    SpinEditD->setGeometry(8, 6, 48, 24);

    ComboBoxM = new QComboBox(this);
    ComboBoxM->setObjectName(QStringLiteral("ComboBoxM"));
    for (const char* name : kMonthNames)
        ComboBoxM->addItem(QString::fromUtf8(name));
    ComboBoxM->setMaxVisibleItems(12);
    ComboBoxM->setCurrentIndex(0);
    ComboBoxM->setGeometry(62, 6, 120, 24);

    SpinEditY = new TSpinEdit(this);
    SpinEditY->setObjectName(QStringLiteral("SpinEditY"));
    SpinEditY->setRange(2000, 2099);
    SpinEditY->setValue(2000);
    SpinEditY->setGeometry(188, 6, 68, 24);

    ButtonOpen = new QPushButton(QStringLiteral("Open Archive"), this);
    ButtonOpen->setObjectName(QStringLiteral("ButtonOpen"));
    ButtonOpen->setGeometry(268, 5, 104, 26);

    ButtonFind = new QPushButton(QStringLiteral("Find"), this);
    ButtonFind->setObjectName(QStringLiteral("ButtonFind"));
    ButtonFind->setGeometry(378, 5, 76, 26);

    Label1 = new QLabel(QStringLiteral("NoFile Open"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->setAutoFillBackground(true);
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::Window, QColor(0, 255, 255));
    palette.setColor(QPalette::WindowText, Qt::black);
    Label1->setPalette(palette);
    Label1->setGeometry(466, 6, 280, 24);

    MemoArch = new TArchiveMemo(this);
    MemoArch->setObjectName(QStringLiteral("MemoArch"));
    MemoArch->setFont(FixedsysFont());
    MemoArch->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoArch->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoArch->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    FindDialog1 = new TFindDialog(this);
    FindDialog1->OnFind = dialogs_.Reported([this] { FindDialog1Find(); });

    filler_ = new TMemoFiller(MemoArch, this);
    connect(filler_, &TMemoFiller::Progressed, this, [this] {
        SelectPendingMatch();
        ScanForTime();
    });
    connect(filler_, &TMemoFiller::Finished, this, [this] {
        SelectPendingMatch();
        ScanForTime();
        emit LoadFinished();
    });

    connect(SpinEditD, &QSpinBox::valueChanged, this, dialogs_.Reported([this] { SpinEditDChange(); }));
    connect(ComboBoxM, &QComboBox::currentIndexChanged, this, dialogs_.Reported([this] { ComboBoxMClick(); }));
    connect(SpinEditY, &QSpinBox::valueChanged, this, dialogs_.Reported([this] { SpinEditYChange(); }));
    connect(ButtonOpen, &QPushButton::clicked, this, dialogs_.Reported([this] { ButtonOpenClick(); }));
    connect(ButtonFind, &QPushButton::clicked, this, dialogs_.Reported([this] { ButtonFindClick(); }));
    connect(MemoArch->document(), &QTextDocument::contentsChange, this, [this](int, int removed, int added) {
        if ((removed || added) && !settingText_ && !filler_->Busy())
            textStale_ = true;
    });
    CreateAddedControls();
}

void TForm2::FormCreate()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const int width = area.width();
    const int height = area.height() - 30;
    setGeometry(area.left() + 1, area.top() + 1, width, height);
    setFixedSize(width, height);
    MemoArch->setGeometry(4, 36, width - 10, height - 70);
    PlaceAddedControls();
}

// Closing the viewer only hides it; its find box and other dialogs go with it
// (a search across days stops, an export goes on to its end).
void TForm2::hideEvent(QHideEvent* event)
{
    if (!event->spontaneous()) {
        FindDialog1->hide();
        DaysCalendar->hide();
        SearchDays->hide();
        ExportDialog->hide();
    }
    QWidget::hideEvent(event);
}

int TForm2::Year() const { return SpinEditY->value(); }
int TForm2::Month() const { return ComboBoxM->currentIndex() + 1; }
int TForm2::Day() const { return SpinEditD->value(); }
QDate TForm2::ChosenDay() const { return QDate(Year(), Month(), Day()); }

int TForm2::DaysInMonth(int year, int month)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Each setting made here runs the change rules again, as the operator's would.
void TForm2::SpinEditDChange()
{
    const int year = Year(), month = Month();
    int day = Day();
    if (month < 1)
        return;  // no month chosen
    if (day > DaysInMonth(year, month)) {
        SpinEditD->setValue(1);
        day = 1;
        if (month == 12) {
            ComboBoxM->setCurrentIndex(0);
            SpinEditY->setValue(year + 1);
        } else {
            ComboBoxM->setCurrentIndex(month);
        }
    }
    if (day >= 1)
        return;
    if (month == 1) {
        ComboBoxM->setCurrentIndex(11);
        SpinEditY->setValue(year - 1);
    } else {
        ComboBoxM->setCurrentIndex(month - 2);
    }
    SpinEditD->setValue(DaysInMonth(Year(), Month()));
}

void TForm2::ComboBoxMClick()
{
    const int days = DaysInMonth(Year(), Month());
    if (days > 0 && Day() > days)
        SpinEditD->setValue(days);
}

void TForm2::SpinEditYChange() { ComboBoxMClick(); }

void TForm2::ButtonOpenClick()
{
    if (CheckEventLog->isChecked())
        OpenEventLog(Year(), Month(), Day());
    else
        OpenCapture(Year(), Month(), Day());
}

std::vector<std::string> TForm2::DayFiles(int year, int month, int day) const
{
    std::vector<std::string> files =
        ArchiveFiles::Match(CapturePattern(unsigned(year), unsigned(month), unsigned(day)));
    // The pattern would take the day's time index and event log too: binary
    // records and another file's text are no part of the capture.
    const std::string folder = CaptureDirectory(unsigned(year), unsigned(month));
    const std::string times = folder + TimeIndexName(unsigned(year), unsigned(month), unsigned(day));
    const std::string log = folder + EventLogName(unsigned(year), unsigned(month), unsigned(day));
    std::erase_if(files, [&](const std::string& file) { return file == times || file == log; });
    return files;
}

void TForm2::OpenCapture(int year, int month, int day)
{
    const std::vector<std::string> files = DayFiles(year, month, day);
    if (files.empty()) {
        Label1->setText(QStringLiteral("No Archive File"));
        return;
    }

    const QString shown = Label1->text();
    Label1->setText(QStringLiteral("Opening File."));
    Label1->repaint();
    std::string bytes;
    std::vector<uint64_t> sizes;
    try {
        sizes = ArchiveFiles::Snapshot(files, kSnapshotFile);
        bytes = ArchiveFiles::ReadAll(kSnapshotFile);
    } catch (...) {
        // MemoArch still shows what it showed, and the label says so again.
        ArchiveFiles::Remove(kSnapshotFile);
        Label1->setText(shown);
        throw;
    }
    ArchiveFiles::Remove(kSnapshotFile);

    // The receive times belong to the capture file, wherever it lies among the matches.
    const std::string folder = CaptureDirectory(unsigned(year), unsigned(month));
    const std::string capture = folder + CaptureName(unsigned(year), unsigned(month), unsigned(day));
    uint64_t base = 0;
    std::vector<TTimeRecord> times;
    for (size_t i = 0; i < files.size(); base += sizes[i++]) {
        if (files[i] != capture)
            continue;
        const TTimeIndex index =
            TTimeIndex::Load(folder + TimeIndexName(unsigned(year), unsigned(month), unsigned(day)));
        times.reserve(index.Size());
        for (TTimeRecord record : index.Records()) {
            if (record.Offset >= sizes[i])
                break;  // a line written after the snapshot
            record.Offset += base;
            times.push_back(record);
        }
        break;
    }

    Load(std::move(bytes), std::move(times));
    shownDay_ = QDate(year, month, day);
    shownLog_ = false;
    shownBase_ = base;
    Label1->setText(QStringLiteral("Open File - ") +
                    QString::fromStdString(CaptureName(unsigned(year), unsigned(month), unsigned(day))));
}

void TForm2::Load(std::string bytes, std::vector<TTimeRecord> times)
{
    filler_->Stop();
    pendingMatch_.reset();
    pendingTime_.reset();
    text_.Assign(std::move(bytes));
    text_.SetTimes(std::move(times));
    textStale_ = false;
    const QScopedValueRollback<bool> setting(settingText_, true);
    filler_->Start(&text_);
}

bool TForm2::Loading() const { return filler_->Busy(); }

void TForm2::ButtonFindClick()
{
    FindPosition = 0;
    FindDialog1->Execute();
}

const TArchiveText& TForm2::SearchText()
{
    if (textStale_) {
        text_ = DocumentText(*MemoArch->document());
        textStale_ = false;
    }
    return text_;
}

void TForm2::FindDialog1Find()
{
    if (FindPosition == 0)
        FindDialog1->SetOptions(FindDialog1->Options() & ~frFindNext);
    const TFindOptions options = FindDialog1->Options();
    const bool findNext = (options & frFindNext) != 0;
    const bool matchCase = (options & frMatchCase) != 0;
    const QString findText = FindDialog1->FindText();

    pendingTime_.reset();
    const TArchiveText& text = SearchText();
    TextSearch::Step step;
    step.further = findNext && FindPosition != 0;
    const std::optional<std::string> pattern = TextSearch::FindTextBytes(findText);
    if (pattern)
        step = TextSearch::FindNext(text.Bytes(), *pattern, FindPosition, findNext, matchCase, text.Folded());
    FindPosition = step.position;
    if (FindPosition == 0) {
        dialogs_.ErrorMessage(this, TextSearch::NotFoundMessage(step.further, findText, QStringLiteral("Archive")));
        return;
    }
    SelectMatch(FindPosition - 1, pattern->size());
}

void TForm2::SelectMatch(size_t offset, size_t length)
{
    pendingMatch_.reset();
    if (filler_->Busy() && filler_->Filled() < offset + length) {
        pendingMatch_ = Match{offset, length};
        return;
    }
    const int start = int(text_.DisplayPosition(offset));
    const int end = int(text_.DisplayEnd(offset + length));
    QTextCursor cursor(MemoArch->document());
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    MemoArch->setTextCursor(cursor);
    MemoArch->setFocus();
}

void TForm2::SelectPendingMatch()
{
    if (pendingMatch_ && (!filler_->Busy() || filler_->Filled() >= pendingMatch_->offset + pendingMatch_->length))
        SelectMatch(pendingMatch_->offset, pendingMatch_->length);
}

void TForm2::ShowForDate(const QDate& today)
{
    show();
    raise();
    activateWindow();
    SpinEditY->setValue(today.year());
    ComboBoxM->setCurrentIndex(today.month() - 1);
    SpinEditD->setValue(today.day());
    filler_->Stop();
    pendingMatch_.reset();
    pendingTime_.reset();
    shownDay_.reset();
    {
        const QScopedValueRollback<bool> setting(settingText_, true);
        MemoArch->clear();
    }
    text_.Assign({});
    textStale_ = false;
    Label1->setText(QStringLiteral("No File Open"));
}
