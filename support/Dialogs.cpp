#include "support/Dialogs.h"

#include "support/PasswordQuery.h"

#include <QApplication>
#include <QMessageBox>

namespace {

QString Title() { return QApplication::applicationDisplayName(); }

}  // namespace

TDialogs TDialogs::Standard()
{
    TDialogs dialogs;
    dialogs.Confirm = [](QWidget* parent, const QString& text) {
        return QMessageBox::question(parent, Title(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
               QMessageBox::Yes;
    };
    dialogs.ErrorMessage = [](QWidget* parent, const QString& text) {
        QMessageBox::critical(parent, Title(), text, QMessageBox::Ok);
    };
    dialogs.ErrorBox = [](const QString& text) {
        QMessageBox::critical(QApplication::activeWindow(), Title(), text, QMessageBox::Ok);
    };
    dialogs.PasswordPrompt = PasswordQuery;
    return dialogs;
}
