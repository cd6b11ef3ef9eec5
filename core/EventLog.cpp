#include "core/EventLog.h"

#include "core/CaptureNames.h"
#include "core/EventText.h"

TEventLog::TEventLog(NowFunction now) : now_(std::move(now)) {}

void TEventLog::Open()
{
    try {
        OpenFor(now_().date());
    } catch (const std::exception&) {
        problemShown_ = true;  // the caller reports it; the events that wait need not again
        throw;
    }
}

void TEventLog::OpenFor(const QDate& day)
{
    file_.Close();
    const unsigned y = unsigned(day.year()), m = unsigned(day.month()), d = unsigned(day.day());
    file_.Open(CaptureDirectory(y, m), EventLogName(y, m, d));
    // The new day counts only once its file is open, so a failure is retried.
    day_ = day;
}

void TEventLog::Write(std::string_view kind, std::string_view detail)
{
    const QDateTime now = now_();
    if (now.date() != day_) {
        try {
            OpenFor(now.date());
        } catch (const std::exception& e) {
            Report(e.what(), problemShown_);
        }
    }
    std::string line = EventLine(now.time(), kind, detail);
    line.pop_back();  // the writer adds the LF
    file_.WriteLine(line);
    if (file_.Flush()) {
        if (file_.IsOpen())
            problemShown_ = lossShown_ = false;
    } else {
        Report(file_.LastError() + "; events are kept (up to " + std::to_string(TCaptureFile::kBacklogLimit >> 20) +
                   " MiB) and written when the file accepts them.",
               problemShown_);
    }
    const uint64_t lost = file_.DroppedBytes();
    if (lost != reportedLost_) {
        reportedLost_ = lost;
        Report("The event log backlog is full: " + std::to_string(lost) + " bytes of events were dropped.", lossShown_);
    }
}

void TEventLog::Report(const std::string& problem, bool& shown)
{
    if (shown)
        return;
    shown = true;
    if (OnProblem)
        OnProblem(problem);
}
