// The window's layout at any size: every control whole and inside the window,
// the settings panel too while it is open.
#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "tests/app/FormFixture.h"
#include "tests/app/LayoutChecks.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>

using Layout = FormFixture;

TEST_F(Layout, EveryControlFitsAtTheSmallestAMiddleAndALargeSize)
{
    TForm1& form = Create();
    form.show();
    for (const QSize size : {form.minimumSize(), QSize(1024, 738), QSize(1920, 1050)}) {
        form.resize(size);
        Settle();
        ASSERT_EQ(form.size(), size);
        ExpectLaidOut(form, false);
        OpenSettings();
        ExpectLaidOut(form, true);
        Button("Button4")->click();  // Cancel closes the panel again
        ExpectLaidOut(form, false);
    }
    // Nothing smaller than that is allowed.
    form.resize(200, 100);
    EXPECT_EQ(form.size(), form.minimumSize());
}

TEST_F(Layout, TheGridShowsItsCrHeadingAndThePortListWholeNames)
{
    TForm1Options options;
    options.ExtraPorts = {"/home/operator/run/pbx-port", "ttyS0"};
    Create(options);
    const TStringGrid* grid = Grid();
    EXPECT_GE(grid->columnWidth(2), grid->horizontalHeader()->sectionSizeHint(2));
    const QComboBox* ports = Combo("ComboBox2");
    const QFontMetrics metrics(ports->view()->font());
    EXPECT_GT(ports->view()->minimumWidth(), metrics.horizontalAdvance(QStringLiteral("/home/operator/run/pbx-port")));
}

namespace {

QPalette WithWindowColour(const QColor& colour)
{
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Base, colour);
    return palette;
}

}  // namespace

TEST_F(Layout, TheLiveTextStaysReadableOnBlackInADarkScheme)
{
    const QPalette saved = QApplication::palette();
    QApplication::setPalette(WithWindowColour(QColor(0x2A, 0x2A, 0x2A)));  // a dark desktop at start
    Create();
    TTerminalMemo* memo = Memo();
    EXPECT_EQ(memo->palette().color(QPalette::Text), QColor(Qt::white));
    const std::pair<QColor, QColor> cases[] = {
        {Qt::white, Qt::white},                                // the usual scheme
        {QColor(0xFF, 0xFF, 0xE0), QColor(0xFF, 0xFF, 0xE0)},  // a light window colour shows as it is
        {QColor(0x80, 0x80, 0x80), QColor(0x80, 0x80, 0x80)},  // contrast 5.3
        {QColor(0x2A, 0x2A, 0x2A), Qt::white},                 // a dark scheme's window colour
        {QColor(0x59, 0x59, 0x59), Qt::white},                 // contrast 3.1
    };
    for (const auto& [window, expected] : cases) {
        form_->setPalette(WithWindowColour(window));
        EXPECT_EQ(memo->palette().color(QPalette::Text), expected) << window.name().toStdString();
        EXPECT_EQ(memo->palette().color(QPalette::Base), QColor(Qt::black));
    }
    // The capture view keeps its own colours, and leaving it follows the rule again.
    Button("Capture")->click();
    EXPECT_EQ(memo->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(memo->palette().color(QPalette::Base), QColor(192, 192, 192));
    Button("Capture")->click();
    EXPECT_EQ(memo->palette().color(QPalette::Text), QColor(Qt::white));
    QApplication::setPalette(saved);
}
