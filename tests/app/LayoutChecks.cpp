#include "tests/app/LayoutChecks.h"

#include <QPushButton>

void ExpectLaidOut(const QWidget& window, bool settingsOpen)
{
    std::vector<QString> names = {"Memo1",     "GroupBox1", "MetaSW",     "ImageSetings", "ImageHelp",
                                  "GroupBox3", "Capture",   "ButtonArch", "StatusBar1"};
    for (int t = 1; t <= 14; ++t)
        names.push_back(QStringLiteral("meta%1").arg(t));
    if (settingsOpen)
        names.insert(names.end(),
                     {"PanelSetMeta", "StringGrid1", "ComboBox1", "ComboBox2", "Bra", "Button3", "Button4"});
    const QRect inside = window.rect();
    for (const QString& name : names) {
        const auto* control = window.findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << name.toStdString();
        const QRect at(control->mapTo(&window, QPoint(0, 0)), control->size());
        EXPECT_TRUE(inside.contains(at)) << name.toStdString() << " at " << at.x() << "," << at.y() << " " << at.width()
                                         << "x" << at.height() << " in " << inside.width() << "x" << inside.height();
        EXPECT_GE(at.width(), 16) << name.toStdString();
        EXPECT_GE(at.height(), 16) << name.toStdString();
    }
    // The display keeps some lines even with the settings panel over its lower part.
    EXPECT_GE(window.findChild<QWidget*>("Memo1")->height(), 60);
}
