#include "support/PasswordQuery.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace {

// Runs action on the prompt once it is up; a prompt left open is cancelled
// after a while so that a failing test cannot hang.
void WhenPromptShows(std::function<void(QDialog*)> action)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, action]() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != "PasswordQuery")
            return;
        poll->stop();
        poll->deleteLater();
        QTimer::singleShot(10000, dialog, [dialog]() {
            ADD_FAILURE() << "prompt left open";
            dialog->reject();
        });
        action(dialog);
    });
    poll->start(10);
}

QLineEdit* Entry(QDialog* dialog) { return dialog->findChild<QLineEdit*>("Entry"); }
QPushButton* Button(QDialog* dialog, const char* name) { return dialog->findChild<QPushButton*>(name); }

}  // namespace

TEST(PasswordQuery, MaskedEntryShowsStarsAndReturnsTheText)
{
    QString value = "old";
    QString shown;
    QString caption;
    WhenPromptShows([&](QDialog* dialog) {
        caption = dialog->windowTitle();
        QLineEdit* edit = Entry(dialog);
        ASSERT_NE(edit, nullptr);
        // The old value is selected, so typing replaces it.
        QTest::keyClicks(edit, "s3cret");
        shown = edit->displayText();
        QTest::mouseClick(Button(dialog, "Ok"), Qt::LeftButton);
    });
    EXPECT_TRUE(PasswordQuery("Password check", "Enter password:", true, value));
    EXPECT_EQ(caption, "Password check");
    EXPECT_EQ(value, "s3cret");
    EXPECT_EQ(shown, "******");
}

TEST(PasswordQuery, PlainEntryAndEnterConfirm)
{
    QString value = "keep";
    QString shown;
    WhenPromptShows([&](QDialog* dialog) {
        QLineEdit* edit = Entry(dialog);
        QTest::keyClick(edit, Qt::Key_End);
        QTest::keyClicks(edit, "er");
        shown = edit->displayText();
        QTest::keyClick(edit, Qt::Key_Return);
    });
    EXPECT_TRUE(PasswordQuery("Q", "Value:", false, value));
    EXPECT_EQ(shown, "keeper");
    EXPECT_EQ(value, "keeper");
}

TEST(PasswordQuery, CancelEscapeAndCloseBoxLeaveTheValue)
{
    const std::vector<std::function<void(QDialog*)>> closers = {
        [](QDialog* dialog) { QTest::mouseClick(Button(dialog, "Cancel"), Qt::LeftButton); },
        [](QDialog* dialog) { QTest::keyClick(Entry(dialog), Qt::Key_Escape); },
        [](QDialog* dialog) { dialog->close(); },
    };
    for (size_t i = 0; i < closers.size(); ++i) {
        QString value = "unchanged";
        WhenPromptShows([&, i](QDialog* dialog) {
            QTest::keyClicks(Entry(dialog), "typed");
            closers[i](dialog);
        });
        EXPECT_FALSE(PasswordQuery("Q", "Value:", true, value)) << "closer " << i;
        EXPECT_EQ(value, "unchanged") << "closer " << i;
    }
}

TEST(PasswordQuery, LayoutFollowsTheAverageCharacterSize)
{
    QString value;
    WhenPromptShows([&](QDialog* dialog) {
        const QSize units = AverageCharSize(QFontMetrics(dialog->font()));
        const double x = units.width();
        const double y = units.height();
        auto* label = dialog->findChild<QLabel*>("Prompt");
        QLineEdit* edit = Entry(dialog);
        QPushButton* ok = Button(dialog, "Ok");
        QPushButton* cancel = Button(dialog, "Cancel");
        EXPECT_EQ(dialog->width(), std::lround(180 * x / 4));
        EXPECT_EQ(label->x(), std::lround(8 * x / 4));
        EXPECT_LE(label->width(), std::lround(164 * x / 4));
        EXPECT_GT(label->height(), units.height());  // the long prompt wraps
        EXPECT_EQ(edit->y(), label->y() + label->height() + 5);
        EXPECT_EQ(edit->maxLength(), 255);
        EXPECT_EQ(ok->size(), QSize(std::lround(50 * x / 4), std::lround(14 * y / 8)));
        EXPECT_EQ(ok->y(), edit->y() + edit->height() + 15);
        EXPECT_EQ(cancel->x(), std::lround(92 * x / 4));
        EXPECT_EQ(dialog->height(), cancel->y() + cancel->height() + 13);
        EXPECT_TRUE(ok->isDefault());
        dialog->reject();
    });
    PasswordQuery("Q", "Enter Pasword for access to program settings: a prompt long enough to wrap", true, value);
}
