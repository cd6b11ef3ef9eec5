#include "support/Dialogs.h"

#include "support/PasswordQuery.h"

#include <QApplication>
#include <QMessageBox>

namespace Dialogs {
namespace {

QString Title() { return QApplication::applicationDisplayName(); }

bool DefaultConfirm(QWidget* parent, const QString& text)
{
    return QMessageBox::question(parent, Title(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

void DefaultErrorMessage(QWidget* parent, const QString& text)
{
    QMessageBox::critical(parent, Title(), text, QMessageBox::Ok);
}

void DefaultErrorBox(const QString& text)
{
    QMessageBox::critical(QApplication::activeWindow(), Title(), text, QMessageBox::Ok);
}

}  // namespace

std::function<bool(QWidget*, const QString&)> Confirm = DefaultConfirm;
std::function<void(QWidget*, const QString&)> ErrorMessage = DefaultErrorMessage;
std::function<void(const QString&)> ErrorBox = DefaultErrorBox;
std::function<bool(const QString&, const QString&, bool, QString&)> PasswordPrompt = PasswordQuery;

void RestoreDefaults()
{
    Confirm = DefaultConfirm;
    ErrorMessage = DefaultErrorMessage;
    ErrorBox = DefaultErrorBox;
    PasswordPrompt = PasswordQuery;
}

}  // namespace Dialogs
