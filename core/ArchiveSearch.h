#pragma once
// Search across the days of the capture archive: every line of the days from
// From to To that holds the text (or matches the regular expression), in order.
#include "core/ArchiveDays.h"

#include <QDate>
#include <QString>
#include <atomic>
#include <functional>
#include <string>

struct TArchiveQuery {
    QDate From, To;
    QString Pattern;
    bool Regex = false;  // else plain text, its letters A to Z without case as Find does
    bool MatchCase = false;
};

// What is wrong with the query (a pattern that does not compile, an empty one), or empty.
std::string CheckArchiveQuery(const TArchiveQuery& query);

// Calls onHit for each matching line, day by day, in order; the line's bytes
// live only during the call. Ends early when stop becomes true. Returns the
// number of matching lines.
size_t SearchArchive(const std::string& root, const TArchiveQuery& query,
                     const std::function<void(const QDate& day, const TArchiveLine& line)>& onHit,
                     const std::atomic<bool>* stop = nullptr);
