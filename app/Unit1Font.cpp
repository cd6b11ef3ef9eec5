// Display font size and weight.
#include "app/Unit1.h"

#include "app/TerminalMemo.h"

#include <QCheckBox>
#include <QComboBox>

void TForm1::ApplyFontSize()
{
    const int size = SelectedText(CBfontsize).toInt();
    if (size <= 0)
        return;
    QFont font = Memo1->font();
    // Truncated, not rounded: 8 points at 96 pixels per inch are 10 pixels.
    font.setPixelSize(size * Memo1->logicalDpiY() / 72);
    Memo1->setFont(font);
}

void TForm1::ApplyBold()
{
    QFont font = Memo1->font();
    font.setBold(CheckBoxBold->isChecked());
    Memo1->setFont(font);
}

void TForm1::Memo1FontSet()
{
    ApplyFontSize();
    ApplyBold();
}

void TForm1::CBfontsizeChange()
{
    ApplyFontSize();
    Memo1->setFocus();
}

void TForm1::CheckBoxBoldClick()
{
    ApplyBold();
    Memo1->setFocus();
}
