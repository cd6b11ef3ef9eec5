#pragma once
// Export of the captured lines received in a span of local time, from one
// day and time to another, to a file: as the bytes captured, or as UTF-8 text
// with the day and receive time in front of each line.
#include "core/ArchiveDays.h"

#include <QDateTime>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

struct TExportRequest {
    // Lines received at or after From and before To, both local.
    QDateTime From, To;
    bool Utf8 = false;
};

struct TExportResult {
    size_t Lines = 0;
    uint64_t Bytes = 0;
    bool Stopped = false;  // stop was set; no file was written
};

// What is wrong with the request, or empty.
std::string CheckExportRequest(const TExportRequest& request);

// Writes the lines of request from the archive below root ("archive" in the
// data folder) to path, replacing it only once all is written. A line without
// a receive time counts only when the times known around it (or its day's
// edges) lie inside the span, so a day without times counts whole or not at
// all. The files are only read: a capture being written is exported as far as
// it has whole lines. Throws std::runtime_error naming the file when it cannot
// be written. onDay, when given, hears each day as it is read.
TExportResult ExportArchive(const std::string& root, const TExportRequest& request, const std::string& path,
                            const std::atomic<bool>* stop = nullptr,
                            const std::function<void(const QDate& day)>& onDay = {});

// "2026-12-07<TAB>14:03:07.250<TAB>line" in UTF-8 (from Windows-1251), the time
// empty where unknown, without a line end.
std::string ArchiveRowText(const QDate& day, const TArchiveLine& line);
