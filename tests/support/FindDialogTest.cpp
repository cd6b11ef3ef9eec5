#include "support/FindDialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

TEST(FindDialog, FindNextSetsItsFlagAndReportsTheChoices)
{
    TFindDialog dialog;
    int calls = 0;
    TFindOptions seen = 0;
    dialog.OnFind = [&] {
        ++calls;
        seen = dialog.Options();
    };

    EXPECT_FALSE(dialog.ButtonFindNext->isEnabled());  // nothing to find yet
    dialog.EditFind->setText("abc");
    dialog.CheckMatchCase->setChecked(true);
    dialog.ButtonFindNext->click();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, frFindNext | frMatchCase);
    EXPECT_EQ(dialog.FindText(), "abc");

    dialog.SetOptions(dialog.Options() & ~frFindNext);
    EXPECT_EQ(dialog.Options(), TFindOptions(frMatchCase));
    dialog.CheckMatchCase->setChecked(false);
    dialog.ButtonFindNext->click();
    EXPECT_EQ(seen, TFindOptions(frFindNext));
}
