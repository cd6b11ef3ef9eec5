#pragma once
// The program's modal boxes. A window takes them as a value, so that tests
// can answer them without touching anything global.
#include <QString>
#include <exception>
#include <functional>

class QWidget;

// Wraps an event handler: an error abandons the handler and is shown in
// errorBox right here. Qt's widget libraries are built without exception
// support, so an exception must never unwind through their frames.
template <typename Handler>
auto ReportedTo(std::function<void(const QString& text)> errorBox, Handler handler)
{
    return [handler, box = std::move(errorBox)] {
        try {
            handler();
        } catch (const std::exception& e) {
            box(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            box(QStringLiteral("Unknown error"));
        }
    };
}

struct TDialogs {
    // "Yes"/"No" confirmation; true for Yes.
    std::function<bool(QWidget* parent, const QString& text)> Confirm;
    // An error message box with one OK button.
    std::function<void(QWidget* parent, const QString& text)> ErrorMessage;
    // The application's standard error box, for errors that abandon a handler.
    std::function<void(const QString& text)> ErrorBox;
    // The one-line prompt (PasswordQuery): true when confirmed, and then value holds the entry.
    std::function<bool(const QString& caption, const QString& prompt, bool masked, QString& value)> PasswordPrompt;

    // The real boxes.
    static TDialogs Standard();

    template <typename Handler>
    auto Reported(Handler handler) const
    {
        return ReportedTo(ErrorBox, std::move(handler));
    }
};
