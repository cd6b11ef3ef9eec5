// The status bar: what a changed text repaints, when, and how a long text fits.
#include "app/StatusBar.h"

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QTest>
#include <gtest/gtest.h>
#include <vector>

namespace {

class TPaintCountingBar : public TStatusBar {
public:
    std::vector<QRect> Painted;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        Painted.push_back(event->rect());
        TStatusBar::paintEvent(event);
    }
};

class StatusBar : public ::testing::Test {
protected:
    void SetUp() override
    {
        Bar.AddPanel(QStringLiteral("Lines"), 80, Qt::AlignLeft);
        Bar.AddPanel(QStringLiteral("Port"), 70, Qt::AlignHCenter);
        Bar.AddPanel(QStringLiteral("File"), 60, Qt::AlignHCenter);
        Bar.resize(400, Bar.sizeHint().height());
        Bar.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Bar.Painted.empty(); }, 10000));
        QApplication::processEvents();
        Bar.Painted.clear();
    }
    QImage Panel(int x, int width) { return Bar.grab(QRect(x, 0, width, Bar.height())).toImage(); }

    TPaintCountingBar Bar;
};

}  // namespace

TEST_F(StatusBar, AChangedTextRepaintsOnlyItsPanelOnceWhenTheDisplayRefreshesOrBySelf)
{
    Bar.SetPanelText(1, QStringLiteral("ttyS1"));
    Bar.SetPanelText(1, QStringLiteral("ttyS1"));
    Bar.PaintChanged();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Bar.Painted.empty(); }, 10000));
    QApplication::processEvents();
    ASSERT_EQ(Bar.Painted.size(), 1u);
    EXPECT_EQ(Bar.Painted[0], QRect(80, 0, 70, Bar.height()));

    // The same text again asks for nothing.
    Bar.Painted.clear();
    Bar.SetPanelText(1, QStringLiteral("ttyS1"));
    Bar.PaintChanged();
    QApplication::processEvents();
    EXPECT_TRUE(Bar.Painted.empty());

    // Without a refresh of the display the bar paints by itself.
    Bar.SetPanelText(0, QStringLiteral("Lines 7"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Bar.Painted.empty(); }, 10000));
    EXPECT_EQ(Bar.Painted[0], QRect(0, 0, 80, Bar.height()));
}

TEST_F(StatusBar, ALongTextKeepsItsEndAndIsFittedAgainWhenItChanges)
{
    Bar.SetPanelText(1, QStringLiteral("/dev/serial/by-id/usb-FTDI-port0"));
    Bar.PaintChanged();
    QApplication::processEvents();
    const QImage first = Panel(80, 70);
    Bar.SetPanelText(1, QStringLiteral("/dev/serial/by-id/usb-FTDI-port1"));
    Bar.PaintChanged();
    QApplication::processEvents();
    const QImage second = Panel(80, 70);
    EXPECT_NE(first, second) << "the panel still shows the old text";
    // The last panel takes the rest of the bar.
    Bar.Painted.clear();
    Bar.SetPanelText(2, QStringLiteral("File Open 08-12-26.CAP"));
    Bar.PaintChanged();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Bar.Painted.empty(); }, 10000));
    EXPECT_EQ(Bar.Painted.back(), QRect(150, 0, 250, Bar.height()));
}

TEST_F(StatusBar, WhatAPanelShowsIsWhatExactFittingGives)
{
    // Near the edge of the 70-pixel panel the quick check must never keep a
    // text that does not fit, nor cut one that does.
    const QStringList texts = {
        QStringLiteral("Lines 6000"),   QStringLiteral("Lines 123456"),
        QStringLiteral("ttyUSB0"),      QStringLiteral("WWWWWWWW"),
        QStringLiteral("WWWWWWWWWWW"),  QStringLiteral("iiiiiiiiiiiiiiiiiiii"),
        QStringLiteral("Speed 115200"), QStringLiteral("\u00C6\u00C6\u00C6\u00C6\u00C6\u00C6"),
        QStringLiteral("AVAVAVAVAVAV"), QStringLiteral("x\u2014y"),
        QStringLiteral("tab\there"),
    };
    for (QString text : texts) {
        for (int extra = 0; extra < 6; ++extra, text += QLatin1Char(extra % 2 ? 'l' : 'M')) {
            Bar.SetPanelText(1, text);
            Bar.PaintChanged();
            QApplication::processEvents();
            const int width = 70 - 5;  // the frame and the text's margins
            EXPECT_EQ(Bar.Panels(1).Shown, Bar.fontMetrics().elidedText(text, Qt::ElideLeft, width))
                << text.toStdString();
        }
    }
}
