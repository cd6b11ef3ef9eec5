#pragma once
// The day's event log, archive/YYYY/MM/DD-MM-YY.LOG beside the capture file:
// who did what and what happened to the line, one event a line (see
// EventText.h). Each event is flushed as it is written; while the file refuses
// them, events wait in the writer's bounded backlog.
#include "core/CaptureFile.h"
#include "support/Clock.h"

#include <QDate>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class TEventLog {
public:
    explicit TEventLog(NowFunction now = SystemNow);

    // Opens today's log. Throws std::runtime_error naming the file; the caller
    // reports it, and events then wait without a second report.
    void Open();
    void Close() { file_.Close(); }
    bool IsOpen() const { return file_.IsOpen(); }
    const std::string& Path() const { return file_.Path(); }

    // One event at the clock's time; detail is escaped already. A new date
    // opens that day's file first.
    void Write(std::string_view kind, std::string_view detail = {});

    size_t PendingBytes() const { return file_.PendingBytes(); }
    uint64_t DroppedBytes() const { return file_.DroppedBytes(); }

    // A problem with the file, once until it works again; the backlog's loss
    // is told once as well.
    std::function<void(const std::string& problem)> OnProblem;

private:
    void OpenFor(const QDate& day);
    void Report(const std::string& problem, bool& shown);

    NowFunction now_;
    TCaptureFile file_{"\n", "event log"};
    QDate day_;
    bool problemShown_ = false;
    bool lossShown_ = false;
    uint64_t reportedLost_ = 0;
};
