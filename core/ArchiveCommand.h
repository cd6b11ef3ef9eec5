#pragma once
// The archive from the command line, for scripts and cron: a search printed
// one line per match, or an export to a file. No window is involved.
#include "core/ArchiveSearch.h"

#include <QDateTime>
#include <ostream>
#include <string>

struct TArchiveCommand {
    enum class TKind { Search, Export };
    TKind Kind = TKind::Search;
    TArchiveQuery Query;  // Search
    // Export: the lines received from the start of the minute From to the end of the minute To.
    QDateTime From, To;
    std::string File;
    bool Utf8 = false;
};

// "2026-12-07"; an invalid date when the text is not one in that form.
QDate ParseArchiveDay(const QString& text);
// "2026-12-07 14:30"; invalid when the text is not one in that form.
QDateTime ParseArchiveMinute(const QString& text);

// Runs command on the archive of dataFolder (empty: the working directory).
// A search prints "YYYY-MM-DD<TAB>HH:MM:SS.mmm<TAB>line" in UTF-8 for each
// match, the time empty where unknown. Returns the exit status: 0 when
// something matched or the export was written, 1 when nothing matched, 2 on
// an error, which goes to err.
int RunArchiveCommand(const TArchiveCommand& command, const std::string& dataFolder, std::ostream& out,
                      std::ostream& err);
