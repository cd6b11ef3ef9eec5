#pragma once
// Each test runs in a fresh data folder of its own.
#include "support/Dialogs.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder_.isValid());
        previous_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(folder_.path()));
    }
    void TearDown() override { QDir::setCurrent(previous_); }

    static void WriteFile(const QString& path, const std::string& bytes);
    static std::string ReadFile(const QString& path);
    static bool Exists(const QString& path) { return QFileInfo::exists(path); }
    // A day's capture file under archive/.
    static void Capture(const QDate& day, const std::string& bytes);
    // The windows' boxes, answered here: error messages are kept in messages.
    TDialogs Answering();

    std::vector<QString> messages;

private:
    QTemporaryDir folder_;
    QString previous_;
};

// Runs the event loop until done() or the time-out; returns done().
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 60000);
