#pragma once
// The controls of the main window under their own names, as a designer's
// generated form holds them. Only the window's own files include this.
#include "app/Unit1.h"

#include <array>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class TImageButton;
class TStatusBar;
class TStringGrid;
class TTerminalMemo;

struct TForm1::Ui {
    // Creates every control on the window, with its design texts and geometry.
    explicit Ui(QMainWindow* window);

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
    QLabel* LabelQuiet = nullptr;
    QSpinBox* SpinQuiet = nullptr;
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

    // The alarm rules editor, behind the settings password like the network settings.
    QPushButton* Bwatch = nullptr;
    QFrame* PsetWatch = nullptr;
    QPlainTextEdit* EditWatch = nullptr;
    QPushButton* BcloseWatch = nullptr;

    TStatusBar* StatusBar1 = nullptr;
    // The status panel of the alarm counter, after those of the window's design and of remote access.
    static constexpr int kAlarmPanel = 9;
    QMenu* PopupMenu1 = nullptr;
    QAction* CopytoPort1 = nullptr;
    QAction* CopyToPortCR = nullptr;
    QAction* CopytoClipboard1 = nullptr;
    QAction* PastefromClipboard1 = nullptr;
    QAction* SelectAll1 = nullptr;
    QAction* Find1 = nullptr;

    // Widens the grid's CR column to show its heading, taking the room from the command column.
    void FitCrColumn();

private:
    void CreateSettingsPanel(QWidget* canvas);
};

// The live display's text colour: the window colour of the palette, or white
// where that colour is too dark to read on black (WCAG contrast under 4.5).
QColor LiveTextColour(const QPalette& palette);

// The selected item's text of a list, empty with no selection.
QString SelectedText(const QComboBox* box);
// Selects item index, or nothing when the list has no such item.
void SelectIndex(QComboBox* box, int index);
