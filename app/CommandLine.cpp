#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QDir>
#include <QStandardPaths>
#include <algorithm>

namespace {

struct TOptions {
    QCommandLineOption Port{QStringLiteral("port"), QStringLiteral("List the device at PATH first and use it."),
                            QStringLiteral("PATH")};
    QCommandLineOption Speed{QStringLiteral("speed"),
                             QStringLiteral("Use BAUD bit/s (1200, 2400, 4800, 9600, 14400, 19200 or 38400)."),
                             QStringLiteral("BAUD")};
    QCommandLineOption DataFolder{QStringLiteral("data-folder"),
                                  QStringLiteral("Keep settings and the capture archive in DIR."),
                                  QStringLiteral("DIR")};
    QCommandLineOption UserData{QStringLiteral("user-data"),
                                QStringLiteral("Keep them in the user's data folder (~/.local/share/morvel-pbx).")};
    QCommandLineOption Version{QStringLiteral("version"), QStringLiteral("Print the version and end.")};
    QCommandLineOption Help{QStringLiteral("help"), QStringLiteral("Print this list and end.")};

    void AddTo(QCommandLineParser& parser) const
    {
        parser.setApplicationDescription(QStringLiteral("Terminal for the maintenance port of a Morvel PBX."));
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        for (const QCommandLineOption* option : {&Port, &Speed, &DataFolder, &UserData, &Version, &Help})
            parser.addOption(*option);
    }
};

}  // namespace

const std::vector<uint32_t>& ListSpeeds()
{
    static const std::vector<uint32_t> speeds = {1200, 2400, 4800, 9600, 14400, 19200, 38400};
    return speeds;
}

TCommandLine ParseCommandLine(const QStringList& args)
{
    TCommandLine line;
    const TOptions options;
    QCommandLineParser parser;
    options.AddTo(parser);
    if (!parser.parse(args)) {
        line.Error = parser.errorText().toStdString();
        return line;
    }
    if (!parser.positionalArguments().isEmpty()) {
        line.Error = "Unexpected argument: " + parser.positionalArguments().first().toStdString();
        return line;
    }
    line.Help = parser.isSet(options.Help);
    line.Version = parser.isSet(options.Version);
    for (const QString& port : parser.values(options.Port)) {
        if (port.isEmpty()) {
            line.Error = "--port needs a device path.";
            return line;
        }
        line.Ports.push_back(port.toStdString());
    }
    if (parser.isSet(options.Speed)) {
        bool number = false;
        const uint32_t speed = parser.value(options.Speed).toUInt(&number);
        if (!number || std::find(ListSpeeds().begin(), ListSpeeds().end(), speed) == ListSpeeds().end()) {
            line.Error = "--speed must be one of 1200, 2400, 4800, 9600, 14400, 19200, 38400 (not \"" +
                         parser.value(options.Speed).toStdString() + "\").";
            return line;
        }
        line.Speed = speed;
    }
    if (parser.isSet(options.DataFolder) && parser.isSet(options.UserData)) {
        line.Error = "--data-folder and --user-data exclude each other.";
        return line;
    }
    if (parser.isSet(options.DataFolder))
        line.DataFolder = parser.value(options.DataFolder).toStdString();
    if (parser.isSet(options.UserData))
        line.DataFolder =
            (QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/morvel-pbx"))
                .toStdString();
    return line;
}

QString CommandLineHelp()
{
    const TOptions options;
    QCommandLineParser parser;
    options.AddTo(parser);
    return parser.helpText();
}
