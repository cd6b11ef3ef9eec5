#pragma once
// TForm2: the archive viewer. Picks a day, loads that day's capture file (or
// its event log) and searches it; steps between the archive's days, shows the
// lines' receive times, searches across days and exports a time range. It
// never writes to the archive.
#include "archive/ArchiveText.h"
#include "support/Dialogs.h"

#include <QDate>
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTextBlock;
class TDaysCalendar;
class TExportDialog;
class TSearchDaysDialog;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TFindDialog;
class TMemoFiller;
class TSpinEdit;

class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(TDialogs dialogs = TDialogs::Standard(), QWidget* parent = nullptr);
    ~TForm2() override;

    // --- controls ---
    TSpinEdit* SpinEditD = nullptr;
    QComboBox* ComboBoxM = nullptr;
    TSpinEdit* SpinEditY = nullptr;
    QPushButton* ButtonOpen = nullptr;
    QPushButton* ButtonFind = nullptr;
    QLabel* Label1 = nullptr;
    QPlainTextEdit* MemoArch = nullptr;
    TFindDialog* FindDialog1 = nullptr;
    // Added controls, along the foot of the window.
    QPushButton* ButtonPreviousDay = nullptr;
    QPushButton* ButtonNextDay = nullptr;
    QPushButton* ButtonDays = nullptr;
    QCheckBox* CheckTimes = nullptr;
    QLabel* LabelGoToTime = nullptr;
    QLineEdit* EditGoToTime = nullptr;
    QPushButton* ButtonSearchDays = nullptr;
    QPushButton* ButtonExport = nullptr;
    QCheckBox* CheckEventLog = nullptr;
    TDaysCalendar* DaysCalendar = nullptr;
    TSearchDaysDialog* SearchDays = nullptr;
    TExportDialog* ExportDialog = nullptr;

    // 1-based position of the last match in the searched text, 0 for none.
    size_t FindPosition = 0;

    // --- handlers ---
    void FormCreate();
    // Loads the chosen day's capture file(s) through the snapshot "arch.tmp".
    // Throws std::runtime_error when a file cannot be read or written.
    void ButtonOpenClick();
    void SpinEditDChange();
    void ComboBoxMClick();
    void SpinEditYChange();
    void ButtonFindClick();
    void FindDialog1Find();

    // Opens the nearest earlier (step -1) or later (+1) day with a capture file.
    void StepDayClick(int step);
    void ButtonDaysClick();
    // Sets the day boxes to day and opens it.
    void OpenDay(const QDate& day);
    // Opens day's capture file and selects the line at offset in it.
    void OpenLine(const QDate& day, uint64_t offset);
    void CheckTimesClick();
    // Scrolls to the first line received at or after the time in EditGoToTime.
    void GoToTimeEnter();
    // Shows the day's event log instead of its capture file, or back.
    void CheckEventLogClick();
    void ButtonSearchDaysClick();
    void ButtonExportClick();

    // The main window's "Archive" button: shows the viewer set to today, empty.
    void ShowForDate(const QDate& today);

    // True while the loaded file is still going into MemoArch.
    bool Loading() const;

    static int DaysInMonth(int year, int month);

    static constexpr const char* kSnapshotFile = "arch.tmp";
    static constexpr const char* kArchiveRoot = "archive";

signals:
    // The loaded file is wholly in MemoArch.
    void LoadFinished();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    int Year() const;
    int Month() const;
    int Day() const;
    QDate ChosenDay() const;
    void CreateControls();
    void CreateAddedControls();
    void PlaceAddedControls();
    // The files the open pattern matches, without the time index and event log beside them.
    std::vector<std::string> DayFiles(int year, int month, int day) const;
    void OpenCapture(int year, int month, int day);
    void OpenEventLog(int year, int month, int day);
    void Load(std::string bytes, std::vector<TTimeRecord> times);
    void ScanForTime();
    void ShowBlock(const QTextBlock& block);
    const TArchiveText& SearchText();
    void SelectMatch(size_t offset, size_t length);
    void SelectPendingMatch();

    struct Match {
        size_t offset;
        size_t length;
    };

    TArchiveText text_;
    // The day on display, where the day's capture file (or event log) begins in text_.
    std::optional<QDate> shownDay_;
    bool shownLog_ = false;
    uint64_t shownBase_ = 0;
    // A Go To Time waiting for lines not yet in the display, and the block to look on from.
    std::optional<uint32_t> pendingTime_;
    int timeScanBlock_ = 0;
    // A match found beyond what the display holds yet, selected once it is in.
    std::optional<Match> pendingMatch_;
    bool textStale_ = false;  // the operator has edited MemoArch since it was filled
    bool settingText_ = false;
    TMemoFiller* filler_ = nullptr;
    TDialogs dialogs_;
};
