#pragma once
// A main window in a fresh data folder, with a clock the test sets and the
// program's modal boxes answered by the test.
#include "app/Unit1.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

class FormFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the window (its creation runs start-up).
    TForm1& Create(TForm1Options options = {});
    // A cluster handed over as the serial worker does.
    void Receive(const std::string& bytes);
    // Runs posted events (deferred error boxes, display refresh).
    static void Settle();
    std::string ReadFile(const QString& path) const;
    void WriteFile(const QString& path, const std::string& bytes) const;
    bool Exists(const QString& path) const { return QFile::exists(path); }

    QTemporaryDir dir_;
    QString oldDir_;
    QDateTime now_ = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
    std::unique_ptr<TForm1> form_;
    QStringList errors_;  // texts shown in error boxes
    bool confirmAnswer_ = true;
    int confirms_ = 0;
};
