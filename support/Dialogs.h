#pragma once
// The program's modal boxes, each replaceable so that tests can answer them.
#include <QString>
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
extern std::function<bool(const QString& caption, const QString& prompt, bool masked, QString& value)>
    PasswordPrompt;

void RestoreDefaults();

}  // namespace Dialogs
