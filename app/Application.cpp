#include "app/Application.h"

#include "support/Dialogs.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Morvel PBX"));
    setApplicationDisplayName(QStringLiteral("Morvel PBX"));
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        TDialogs::Standard().ErrorBox(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        TDialogs::Standard().ErrorBox(QStringLiteral("Unknown error"));
    }
    return false;
}
