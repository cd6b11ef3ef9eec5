#include "tests/app/FormFixture.h"
#include "tests/app/LayoutChecks.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

using ScaledLayout = FormFixture;

TEST_F(ScaledLayout, TheSettingsPanelAndItsCancelFitAScreenOfHalfTheSize)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(screen.size(), QSize(640, 400)) << "the screen the test asked for";
    TForm1& form = Create();
    form.show();
    Settle();
    EXPECT_LE(form.height(), screen.height());
    OpenSettings();
    ExpectLaidOut(form, true);
    QPushButton* cancel = Button("Button4");
    EXPECT_TRUE(screen.contains(QRect(cancel->mapToGlobal(QPoint(0, 0)), cancel->size())));
    cancel->click();
    ExpectLaidOut(form, false);
}
