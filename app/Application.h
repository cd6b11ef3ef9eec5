#pragma once
// The application object: an exception escaping any event handler is shown in
// the standard error box, and the program goes on with the next event.
#include <QApplication>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
