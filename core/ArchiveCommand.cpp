#include "core/ArchiveCommand.h"

#include "core/ArchiveExport.h"

#include <QDir>
#include <QRegularExpression>
#include <atomic>

namespace {

int Fail(std::ostream& err, const std::string& problem)
{
    err << "morvel-pbx: " << problem << "\n";
    return 2;
}

}  // namespace

QDate ParseArchiveDay(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    return form.match(text).hasMatch() ? QDate::fromString(text, QStringLiteral("yyyy-MM-dd")) : QDate();
}

QDateTime ParseArchiveMinute(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{4}-\\d{2}-\\d{2}) (\\d{2}):(\\d{2})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return {};
    const QDate day = ParseArchiveDay(match.captured(1));
    const QTime time(match.captured(2).toInt(), match.captured(3).toInt());
    if (!day.isValid() || !time.isValid())
        return {};
    return QDateTime(day, time);
}

int RunArchiveCommand(const TArchiveCommand& command, const std::string& dataFolder, std::ostream& out,
                      std::ostream& err)
{
    const QString folder = dataFolder.empty() ? QDir::currentPath() : QString::fromStdString(dataFolder);
    const std::string root = QDir(folder).filePath(QStringLiteral("archive")).toStdString();
    // A wrong folder must not pass for an archive without matches.
    if (!QDir(QString::fromStdString(root)).exists())
        return Fail(err, "there is no capture archive in \"" + folder.toStdString() + "\".");

    if (command.Kind == TArchiveCommand::TKind::Export) {
        TExportRequest request{command.From, command.To.addSecs(60), command.Utf8};
        if (const std::string problem = CheckExportRequest(request); !problem.empty())
            return Fail(err, problem);
        try {
            ExportArchive(root, request, command.File);
        } catch (const std::exception& e) {
            return Fail(err, e.what());
        }
        return 0;
    }

    if (const std::string problem = CheckArchiveQuery(command.Query); !problem.empty())
        return Fail(err, problem);
    std::atomic<bool> outFailed{false};
    const size_t hits = SearchArchive(
        root, command.Query,
        [&](const QDate& day, const TArchiveLine& line) {
            out << ArchiveRowText(day, line) << '\n';
            if (!out)
                outFailed = true;
        },
        &outFailed);
    out.flush();
    if (!out)
        return Fail(err, "cannot write the results.");
    return hits > 0 ? 0 : 1;
}
