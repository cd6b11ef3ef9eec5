#pragma once
// The receive path: PBX output into display lines and the day's capture file.
// Text is assembled into lines; each completed line goes to the line model and
// to the capture file with CR LF. While the capture view freezes the display,
// received text is held back and replayed into the display when the view ends;
// its completed lines reach the capture file as they arrive, as the replay
// would have written them.
#include "core/CaptureFile.h"
#include "core/LineModel.h"
#include "support/Clock.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class TReceivePath {
public:
    explicit TReceivePath(NowFunction now = SystemNow);

    // The display starts with one empty line being assembled.
    void Start();

    // One cluster of PBX output.
    void Take(std::string_view text);

    // Text held for the display replay, at most this many bytes besides the line
    // still open; past it the oldest whole lines are left out of the replay.
    static constexpr size_t kHeldLimit = 64u << 20;

    bool CaptureViewMode() const { return captureViewMode_; }
    void EnterCaptureView();
    // Ends the capture view and replays what was held meanwhile into the display.
    void LeaveCaptureView();

    // With deferred flushing, Take leaves the capture lines pending until the
    // owner calls FlushCapture, or until this many bytes wait: a write per line
    // would cost more than the rest of the line's path. Closing the file writes
    // them out in any case.
    static constexpr size_t kDeferredFlushLimit = 64u << 10;
    void SetDeferredFlush(bool deferred) { deferredFlush_ = deferred; }
    bool CapturePending() const { return captureFile_.PendingBytes() > 0 || captureFile_.PendingTimeBytes() > 0; }
    void FlushCapture();

    // Opens today's capture file, closing the previous one. Throws std::runtime_error naming the file.
    void OpenCaptureFile();
    void CloseCaptureFile() { captureFile_.Close(); }

    const TLineModel& Lines() const { return lines_; }
    TLineModel& Lines() { return lines_; }
    TCaptureFile& CaptureFile() { return captureFile_; }
    int LineIndex() const { return lineIndex_; }
    int LineLimit() const { return lineLimit_; }
    void SetLineLimit(int limit) { lineLimit_ = limit; }
    const std::string& HeldText() const { return heldText_; }
    uint16_t CaptureYear() const { return captureYear_; }
    uint16_t CaptureMonth() const { return captureMonth_; }
    uint16_t CaptureDay() const { return captureDay_; }

    // A display line was completed (live, or replayed after the capture view),
    // by its number among all display lines (TLineModel::FirstNumber).
    std::function<void(int64_t number, std::string_view line)> OnLineCompleted;
    // Display lines before this number were trimmed away.
    std::function<void(int64_t first)> OnTrimmed;

    // The name of the capture file about to be opened, and of one that could not be.
    std::function<void(const std::string& name)> OnCaptureFileOpening;
    std::function<void(const std::string& name)> OnCaptureFileFailed;
    // A capture file problem, once until the file works again. The receive path
    // goes on; lines wait in the capture file's backlog. When the backlog overflows,
    // one more problem says how much was lost.
    std::function<void(const std::string& problem)> OnCaptureProblem;
    // Lines the full backlog dropped: the bytes dropped now and the total since
    // start. The capture file itself holds no trace of them.
    std::function<void(uint64_t dropped, uint64_t total)> OnCaptureLost;

private:
    enum class Rules { Live, Replay };
    // Live lines go to the capture file as they complete; replayed ones are there already.
    void Assemble(std::string_view text, Rules rules);
    void Hold(std::string_view text);
    // Blocks of 20 lines leave the display until it is under the limit, at most steps blocks.
    void Trim(size_t steps);
    void FlushCaptureIfDue();
    void ReportCaptureProblem(const std::string& problem);
    void ReportCaptureLoss();

    NowFunction now_;
    TLineModel lines_;
    TCaptureFile captureFile_;
    int lineIndex_ = 0;
    int lineLimit_ = 6000;
    bool captureViewMode_ = false;
    bool deferredFlush_ = false;
    std::string heldText_;
    size_t heldLineStart_ = 0;     // where the held line still open begins in heldText_
    bool heldLineOpensOn_ = true;  // that line continues the display's open line
    bool heldDropped_ = false;     // the oldest held lines are left out of the replay
    std::string captureLine_;
    std::string pending_;               // the part of the current line assembled from this text
    std::optional<uint32_t> lineTime_;  // receive time of the lines this text completes
    uint16_t captureYear_ = 0, captureMonth_ = 0, captureDay_ = 0;
    bool captureProblemShown_ = false;
    bool captureLossShown_ = false;
    uint64_t reportedLost_ = 0;
};
