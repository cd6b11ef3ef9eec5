#pragma once
// The program's modal boxes, each replaceable so that tests can answer them.
#include <QString>
#include <exception>
#include <functional>

class QWidget;

namespace Dialogs {

// "Yes"/"No" confirmation; true for Yes.
extern std::function<bool(QWidget* parent, const QString& text)> Confirm;
// An error message box with one OK button.
extern std::function<void(QWidget* parent, const QString& text)> ErrorMessage;
// The application's standard error box, for errors that abandon a handler.
extern std::function<void(const QString& text)> ErrorBox;
// The one-line prompt (PasswordQuery): true when confirmed, and then value holds the entry.
extern std::function<bool(const QString& caption, const QString& prompt, bool masked, QString& value)> PasswordPrompt;

void RestoreDefaults();

// Wraps an event handler: an error abandons the handler and is shown in the
// error box right here. Qt's widget libraries are built without exception
// support, so an exception must never unwind through their frames.
template <typename Handler>
auto Reported(Handler handler)
{
    return [handler] {
        try {
            handler();
        } catch (const std::exception& e) {
            ErrorBox(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            ErrorBox(QStringLiteral("Unknown error"));
        }
    };
}

}  // namespace Dialogs
