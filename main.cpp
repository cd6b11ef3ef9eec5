// Morvel PBX maintenance terminal.
#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/Unit1.h"
#include "archive/Unit2.h"
#include "core/InstanceBeacon.h"

#include <QDir>
#include <algorithm>
#include <cstdio>
#include <iostream>

namespace {

// The archive's options run without a window, so without a display.
bool WantsArchive(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        arg.remove_prefix(std::min(arg.find_first_not_of('-'), arg.size()));
        arg = arg.substr(0, arg.find('='));
        for (const char* name : {"search", "export", "from", "to", "regex", "match-case", "utf8"})
            if (arg == name && argv[i][0] == '-')
                return true;
    }
    return false;
}

int RunArchive(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const TCommandLine line = ParseCommandLine(QCoreApplication::arguments());
    if (line.Help) {
        std::fputs(CommandLineHelp().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (!line.Error.empty() || !line.Archive) {
        std::fprintf(stderr, "morvel-pbx: %s\nTry 'morvel-pbx --help'.\n", line.Error.c_str());
        return 2;
    }
    std::ios::sync_with_stdio(false);
    return RunArchiveCommand(*line.Archive, line.DataFolder, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv)
{
    if (WantsArchive(argc, argv))
        return RunArchive(argc, argv);
    TApplication app(argc, argv);
    app.setProperty("helpFile", QStringLiteral("MorvelPBX.hlp"));

    const TCommandLine line = ParseCommandLine(QCoreApplication::arguments());
    if (!line.Error.empty()) {
        std::fprintf(stderr, "morvel-pbx: %s\nTry 'morvel-pbx --help'.\n", line.Error.c_str());
        return 2;
    }
    if (line.Help) {
        std::fputs(CommandLineHelp().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (line.Version) {
        std::printf("morvel-pbx %s\n", MORVEL_VERSION);
        return 0;
    }
    if (!line.DataFolder.empty()) {
        const QString folder = QString::fromStdString(line.DataFolder);
        if (!QDir().mkpath(folder) || !QDir::setCurrent(folder)) {
            std::fprintf(stderr, "morvel-pbx: cannot use the data folder \"%s\".\n", line.DataFolder.c_str());
            return 2;
        }
    }

    TForm1Options options;
    options.ExtraPorts = line.Ports;
    if (!line.Ports.empty())
        options.PortForRun = line.Ports.front();
    options.SpeedForRun = line.Speed;
    options.OnAnotherInstance = [] {
        const bool answered = KnockOnRunningInstance(InstanceBeaconName());
        std::fprintf(stderr, "morvel-pbx: a copy is already running for this user%s.\n",
                     answered ? "; it was asked to come to the front" : "");
    };
    TForm1 form1(std::move(options));
    if (form1.Terminated())
        return 0;
    TForm2 form2;
    form1.SetArchiveWindow(&form2);
    form1.show();
    return app.exec();
}
