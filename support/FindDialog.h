#pragma once
// The find dialog shared by both windows: find text, "Match case", "Find Next"
// and "Cancel"; it searches downwards only. It stays open beside its window.
#include <QDialog>
#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;

enum TFindOption : unsigned {
    frFindNext = 1u << 0,  // set on every press of Find Next; callers clear it
    frMatchCase = 1u << 1,
};
using TFindOptions = unsigned;

class TFindDialog : public QDialog {
    Q_OBJECT
public:
    explicit TFindDialog(QWidget* parent = nullptr);

    TFindOptions Options() const;
    void SetOptions(TFindOptions options);
    QString FindText() const;
    void SetFindText(const QString& text);

    // Shows the dialog (modeless) and brings it to the front.
    void Execute();

    // Called on each press of Find Next, after frFindNext has been set.
    std::function<void()> OnFind;

    QLineEdit* EditFind = nullptr;
    QCheckBox* CheckMatchCase = nullptr;
    QPushButton* ButtonFindNext = nullptr;
    QPushButton* ButtonCancel = nullptr;

private:
    void FindNextClick();

    bool findNext_ = false;
};
