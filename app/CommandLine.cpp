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
    QCommandLineOption Search{QStringLiteral("search"),
                              QStringLiteral("Print the archive's lines that hold PATTERN, one a line: day, receive "
                                             "time, text. Ends with 0 when something matched, 1 when nothing "
                                             "did, 2 on an error."),
                              QStringLiteral("PATTERN")};
    QCommandLineOption From{QStringLiteral("from"), QStringLiteral("Search from the day YYYY-MM-DD."),
                            QStringLiteral("YYYY-MM-DD")};
    QCommandLineOption To{QStringLiteral("to"), QStringLiteral("Search up to the day YYYY-MM-DD."),
                          QStringLiteral("YYYY-MM-DD")};
    QCommandLineOption Regex{QStringLiteral("regex"), QStringLiteral("PATTERN is a regular expression.")};
    QCommandLineOption MatchCase{QStringLiteral("match-case"), QStringLiteral("Letters must match in case.")};
    QCommandLineOption Export{QStringLiteral("export"),
                              QStringLiteral("--export FROM TO FILE: write the lines received from FROM to the "
                                             "end of the minute TO, both \"YYYY-MM-DD HH:MM\", to FILE."),
                              QStringLiteral("FROM")};
    QCommandLineOption Utf8{QStringLiteral("utf8"),
                            QStringLiteral("Export UTF-8 text with the day and time in front of each line.")};

    void AddTo(QCommandLineParser& parser) const
    {
        parser.setApplicationDescription(QStringLiteral("Terminal for the maintenance port of a Morvel PBX."));
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        for (const QCommandLineOption* option : {&Port, &Speed, &DataFolder, &UserData, &Version, &Help, &Search, &From,
                                                 &To, &Regex, &MatchCase, &Export, &Utf8})
            parser.addOption(*option);
    }
};

// --search and --export, with the options that go with them.
std::optional<TArchiveCommand> ArchiveCommand(const QCommandLineParser& parser, const TOptions& options,
                                              std::string& error)
{
    const bool search = parser.isSet(options.Search), exporting = parser.isSet(options.Export);
    const QStringList rest = parser.positionalArguments();
    if (search && exporting) {
        error = "--search and --export exclude each other.";
        return std::nullopt;
    }
    for (const QCommandLineOption* option : {&options.From, &options.To, &options.Regex, &options.MatchCase})
        if (!search && parser.isSet(*option)) {
            error = "--" + option->names().first().toStdString() + " goes with --search.";
            return std::nullopt;
        }
    if (!exporting && parser.isSet(options.Utf8)) {
        error = "--utf8 goes with --export.";
        return std::nullopt;
    }
    if (!search && !exporting) {
        if (!rest.isEmpty())
            error = "Unexpected argument: " + rest.first().toStdString();
        return std::nullopt;
    }
    TArchiveCommand command;
    if (exporting) {
        if (rest.size() != 2) {
            error = "--export needs FROM, TO and FILE.";
            return std::nullopt;
        }
        command.Kind = TArchiveCommand::TKind::Export;
        command.From = ParseArchiveMinute(parser.value(options.Export));
        command.To = ParseArchiveMinute(rest[0]);
        command.File = rest[1].toStdString();
        command.Utf8 = parser.isSet(options.Utf8);
        for (const auto& [time, text] : {std::pair{command.From, parser.value(options.Export)}, {command.To, rest[0]}})
            if (!time.isValid()) {
                error = "--export takes times as \"YYYY-MM-DD HH:MM\" (not \"" + text.toStdString() + "\").";
                return std::nullopt;
            }
        if (command.File.empty()) {
            error = "--export needs a file name.";
            return std::nullopt;
        }
        return command;
    }
    if (!rest.isEmpty()) {
        error = "Unexpected argument: " + rest.first().toStdString();
        return std::nullopt;
    }
    command.Query.Pattern = parser.value(options.Search);
    command.Query.Regex = parser.isSet(options.Regex);
    command.Query.MatchCase = parser.isSet(options.MatchCase);
    for (const auto& [option, day] :
         {std::pair{&options.From, &command.Query.From}, std::pair{&options.To, &command.Query.To}}) {
        if (!parser.isSet(*option))
            continue;
        *day = ParseArchiveDay(parser.value(*option));
        if (!day->isValid()) {
            error = "--" + option->names().first().toStdString() + " takes a day as YYYY-MM-DD (not \"" +
                    parser.value(*option).toStdString() + "\").";
            return std::nullopt;
        }
    }
    return command;
}

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
    line.Archive = ArchiveCommand(parser, options, line.Error);
    if (!line.Error.empty())
        return line;
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
