// Display font size and weight.
#include "app/TerminalMemo.h"
#include "app/Unit1Ui.h"

#include <QCheckBox>
#include <QComboBox>

void TForm1::ApplyFontSize()
{
    const int size = SelectedText(ui_->CBfontsize).toInt();
    if (size <= 0)
        return;
    QFont font = ui_->Memo1->font();
    // Truncated, not rounded: 8 points at 96 pixels per inch are 10 pixels.
    font.setPixelSize(size * ui_->Memo1->logicalDpiY() / 72);
    ui_->Memo1->setFont(font);
}

void TForm1::ApplyBold()
{
    QFont font = ui_->Memo1->font();
    font.setBold(ui_->CheckBoxBold->isChecked());
    ui_->Memo1->setFont(font);
}

void TForm1::Memo1FontSet()
{
    ApplyFontSize();
    ApplyBold();
}

void TForm1::CBfontsizeChange()
{
    ApplyFontSize();
    ui_->Memo1->setFocus();
}

void TForm1::CheckBoxBoldClick()
{
    ApplyBold();
    ui_->Memo1->setFocus();
}
