#pragma once
// TForm2: the archive viewer. Picks a day, loads that day's capture file and
// searches it. It never writes to the archive.
#include "archive/ArchiveText.h"
#include "support/Dialogs.h"

#include <QDate>
#include <QWidget>
#include <cstddef>
#include <optional>

class QComboBox;
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

    // The main window's "Archive" button: shows the viewer set to today, empty.
    void ShowForDate(const QDate& today);

    // True while the loaded file is still going into MemoArch.
    bool Loading() const;

    static int DaysInMonth(int year, int month);

    static constexpr const char* kSnapshotFile = "arch.tmp";

signals:
    // The loaded file is wholly in MemoArch.
    void LoadFinished();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    int Year() const;
    int Month() const;
    int Day() const;
    void CreateControls();
    void Load(std::string bytes);
    const TArchiveText& SearchText();
    void SelectMatch(size_t offset, size_t length);
    void SelectPendingMatch();

    struct Match {
        size_t offset;
        size_t length;
    };

    TArchiveText text_;
    // A match found beyond what the display holds yet, selected once it is in.
    std::optional<Match> pendingMatch_;
    bool textStale_ = false;  // the operator has edited MemoArch since it was filled
    bool settingText_ = false;
    TMemoFiller* filler_ = nullptr;
    TDialogs dialogs_;
};
