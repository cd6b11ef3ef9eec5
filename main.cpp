// Morvel PBX maintenance terminal.
#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/Unit1.h"
#include "archive/Unit2.h"
#include "core/InstanceBeacon.h"

#include <QDir>
#include <cstdio>

int main(int argc, char** argv)
{
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
