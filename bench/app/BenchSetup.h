#pragma once
// What every in-process benchmark of the main window sets up: an offscreen
// application in a fresh data folder, and a window that checks no other
// instance, lists no system port and leaves the session's signals alone.
#include "app/Application.h"
#include "app/Unit1.h"
#include "bench/app/BenchRules.h"
#include "serial/SerialNG.h"

#include <QDir>
#include <QTemporaryDir>

// Offscreen unless the caller chose a platform; returns argc for the application.
inline int& OffscreenByDefault(int& argc)
{
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return argc;
}

struct BenchApplication {
    BenchApplication(int& argc, char** argv) : app(OffscreenByDefault(argc), argv) { QDir::setCurrent(dir.path()); }
    TApplication app;
    QTemporaryDir dir;
};

// port is set to the window's serial port component once the window makes it.
inline TForm1Options BenchOptions(TSerialPortNG*& port)
{
    TForm1Options options;
    options.AnotherInstanceRunning = [] { return false; };
    options.ListSystemPorts = false;
    options.WatchSessionEnd = false;
    options.AnswerOtherInstances = false;
    options.SerialPort = [&port] {
        auto made = std::make_unique<TSerialPortNG>();
        port = made.get();
        return made;
    };
    return options;
}
