#include "core/ReceivePath.h"

#include "core/CaptureNames.h"

#include <cstddef>
#include <stdexcept>

TReceivePath::TReceivePath(NowFunction now) : now_(std::move(now)) {}

void TReceivePath::Start()
{
    lines_.AddLine();
    lineIndex_ = lines_.LineCount() - 1;
    captureViewMode_ = false;
    heldText_.clear();
}

void TReceivePath::Take(std::string_view text)
{
    const QDateTime now = now_();
    const QDate today = now.date();
    // Lines that end in this text arrived now. A held line completed after
    // midnight goes to the file open before it, so it has no time there.
    lineTime_ = uint32_t(now.time().msecsSinceStartOfDay());
    if (captureViewMode_) {
        if (today != QDate(captureYear_, captureMonth_, captureDay_))
            lineTime_ = std::nullopt;
        Hold(text);
        return;
    }
    if (today.month() != captureMonth_ || today.day() != captureDay_) {
        try {
            OpenCaptureFile();
        } catch (const std::exception& e) {
            // Keep displaying; the lines wait in the capture backlog and the
            // next cluster tries the new day's file again.
            ReportCaptureProblem(e.what());
        }
    }
    // A large cluster must not grow the display without bound.
    Trim(SIZE_MAX);
    if (!text.empty() && text[0] == '\b')
        lines_.ShortenLine(lineIndex_, text.size());
    Assemble(text, Rules::Live);
    FlushCaptureIfDue();
}

void TReceivePath::EnterCaptureView()
{
    if (captureViewMode_)
        return;
    captureViewMode_ = true;
    heldLineStart_ = 0;
    heldLineOpensOn_ = true;
    heldDropped_ = false;
}

// The replay keeps backspaces and drops NUL and CR; the first completed line
// continues the display's open line, which nothing changes while the view lasts.
void TReceivePath::Hold(std::string_view text)
{
    const size_t from = heldText_.size();
    heldText_ += text;
    for (size_t lf = heldText_.find('\n', from); lf != std::string::npos; lf = heldText_.find('\n', lf + 1)) {
        captureLine_.clear();
        if (heldLineOpensOn_)
            captureLine_ = lines_.Line(lineIndex_);
        heldLineOpensOn_ = false;
        const char* const end = heldText_.data() + lf;
        for (const char* p = heldText_.data() + heldLineStart_; p < end;) {
            const char* q = p;
            while (q < end && *q != '\0' && *q != '\r')
                ++q;
            captureLine_.append(p, size_t(q - p));
            p = q + 1;
        }
        captureFile_.WriteLine(captureLine_, lineTime_);
        heldLineStart_ = lf + 1;
    }
    FlushCaptureIfDue();
    if (heldText_.size() <= kHeldLimit || heldLineStart_ == 0)
        return;
    // Whole lines leave the front, a quarter of the limit at a time; the open line stays whole.
    const size_t lf = heldText_.find('\n', heldText_.size() - kHeldLimit * 3 / 4);
    const size_t cut = lf < heldLineStart_ ? lf + 1 : heldLineStart_;
    heldText_.erase(0, cut);
    heldLineStart_ -= cut;
    heldDropped_ = true;
}

void TReceivePath::LeaveCaptureView()
{
    captureViewMode_ = false;
    if (heldDropped_) {
        // The display's open line ended in the text left out.
        Trim(1);
        lines_.AddLine();
        lineIndex_ = lines_.LineCount() - 1;
    }
    Assemble(heldText_, Rules::Replay);
    heldText_.clear();
    heldText_.shrink_to_fit();
    captureLine_.clear();
    captureLine_.shrink_to_fit();
    heldLineStart_ = 0;
    heldDropped_ = false;
}

void TReceivePath::Trim(size_t steps)
{
    const int64_t first = lines_.FirstNumber();
    for (; steps > 0 && lineIndex_ > lineLimit_; --steps) {
        lines_.DeleteFirstLines(20);
        lineIndex_ -= 20;
    }
    if (OnTrimmed && lines_.FirstNumber() != first)
        OnTrimmed(lines_.FirstNumber());
}

// Live text drops NUL, CR and backspace and is trimmed once before it is
// assembled. The replay keeps backspaces and tests the limit before every
// byte, which comes to the same as one step per byte of each run.
void TReceivePath::Assemble(std::string_view text, Rules rules)
{
    const bool replay = rules == Rules::Replay;
    const char* p = text.data();
    const char* const end = p + text.size();
    pending_.clear();
    while (p < end) {
        const char* q = p;
        while (q < end && *q != '\0' && *q != '\n' && *q != '\r' && (replay || *q != '\b'))
            ++q;
        if (replay)
            Trim(size_t(q - p) + (q < end ? 1 : 0));
        pending_.append(p, size_t(q - p));
        if (q == end)
            break;
        if (*q == '\n') {
            lines_.AppendToLine(lineIndex_, pending_);
            pending_.clear();
            if (!replay)
                captureFile_.WriteLine(lines_.Line(lineIndex_), lineTime_);
            if (OnLineCompleted)
                OnLineCompleted(lines_.FirstNumber() + lineIndex_, lines_.Line(lineIndex_));
            lines_.AddLine();
            lineIndex_ = lines_.LineCount() - 1;
        }
        p = q + 1;
    }
    lines_.AppendToLine(lineIndex_, pending_);
    pending_.clear();
}

void TReceivePath::OpenCaptureFile()
{
    const QDate today = now_().date();
    captureFile_.Close();
    const unsigned year = unsigned(today.year()), month = unsigned(today.month()), day = unsigned(today.day());
    const std::string name = CaptureName(year, month, day);
    if (OnCaptureFileOpening)
        OnCaptureFileOpening(name);
    try {
        captureFile_.Open(CaptureDirectory(year, month), name);
    } catch (const std::exception&) {
        if (OnCaptureFileFailed)
            OnCaptureFileFailed(name);
        throw;
    }
    // The new date counts only once its file is open, so a failure is retried.
    captureYear_ = uint16_t(year);
    captureMonth_ = uint16_t(month);
    captureDay_ = uint16_t(day);
}

void TReceivePath::FlushCaptureIfDue()
{
    if (!deferredFlush_ || captureFile_.PendingBytes() >= kDeferredFlushLimit)
        FlushCapture();
}

void TReceivePath::FlushCapture()
{
    if (captureFile_.Flush()) {
        ReportCaptureLoss();
        // Nothing pending flushes fine without a file; only an open file clears the problem.
        if (captureFile_.IsOpen()) {
            captureProblemShown_ = false;
            captureLossShown_ = false;
        }
        return;
    }
    ReportCaptureProblem(captureFile_.LastError() + "; the lines are kept (up to " +
                         std::to_string(TCaptureFile::kBacklogLimit >> 20) +
                         " MiB) and written when the file accepts them.");
    ReportCaptureLoss();
}

void TReceivePath::ReportCaptureLoss()
{
    const uint64_t total = captureFile_.DroppedBytes();
    if (total == reportedLost_)
        return;
    const uint64_t dropped = total - reportedLost_;
    reportedLost_ = total;
    if (OnCaptureLost)
        OnCaptureLost(dropped, total);
    if (captureLossShown_)
        return;
    captureLossShown_ = true;
    if (OnCaptureProblem)
        OnCaptureProblem("The capture backlog is full: " + std::to_string(dropped) +
                         " bytes of received lines were dropped and are not in the capture file (" +
                         captureFile_.LastError() + ").");
}

void TReceivePath::ReportCaptureProblem(const std::string& problem)
{
    if (captureProblemShown_)
        return;
    captureProblemShown_ = true;
    if (OnCaptureProblem)
        OnCaptureProblem(problem);
}
