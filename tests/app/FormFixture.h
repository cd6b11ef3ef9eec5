#pragma once
// A main window in a fresh data folder, with a clock the test sets and the
// program's modal boxes answered by the test. Controls are found by name.
#include "app/Unit1.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLineEdit;
class QPushButton;
class TSerialPortNG;
class TStringGrid;
class TTerminalMemo;

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
    // Runs the event loop until condition holds, or the time-out passes.
    static bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 30000);
    // Types text into the display key by key, CR as the Enter key.
    void TypeInDisplay(const char* text) const;
    std::string ReadFile(const QString& path) const;
    void WriteFile(const QString& path, const std::string& bytes) const;
    bool Exists(const QString& path) const { return QFile::exists(path); }

    // The window's parts, by name.
    template <class T>
    T* Find(const char* name) const
    {
        T* found = form_ ? form_->findChild<T*>(QString::fromLatin1(name)) : nullptr;
        if (!found)
            ADD_FAILURE() << "the window has no " << name;
        return found;
    }
    TTerminalMemo* Memo() const;
    TStringGrid* Grid() const;
    QPushButton* Button(const char* name) const;
    QCheckBox* Check(const char* name) const;
    QLineEdit* Edit(const char* name) const;
    QComboBox* Combo(const char* name) const;
    QFrame* Frame(const char* name) const;
    QAction* Action(const char* name) const;
    QString Status(int panel) const;
    // The selected item's text of a list, empty with no selection.
    QString Selected(const char* list) const;
    // The context menu as it opens.
    void OpenMenu() const;
    // The settings image clicked.
    void OpenSettings() const;
    // A double click on the grid's current cell.
    void DoubleClickCell() const;
    // The window's serial port component.
    TSerialPortNG& Port() const { return *port_; }

    QTemporaryDir dir_;
    QString oldDir_;
    QDateTime now_ = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
    std::unique_ptr<TForm1> form_;
    TSerialPortNG* port_ = nullptr;
    QStringList errors_;  // texts shown in error boxes
    bool confirmAnswer_ = true;
    bool watchSessionEnd_ = false;  // SIGTERM and SIGHUP end the session
    int confirms_ = 0;
    // The settings password prompt; cancelled when unset.
    std::function<bool(const QString& caption, const QString& prompt, bool masked, QString& value)> prompt_;
};
