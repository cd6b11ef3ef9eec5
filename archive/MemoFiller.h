#pragma once
// Puts a large text into a QPlainTextEdit piece by piece from a zero-time
// timer, so that the first screen shows at once and the window keeps
// answering while the rest goes in. Long lines go in as rows of the text's
// row limit; the block of each continued row carries kContinuedRow as its
// user state, and the first block of a line with a receive time carries that
// time (see BlockTime).
#include <QObject>
#include <QTimer>
#include <cstddef>
#include <cstdint>
#include <optional>

class QPlainTextEdit;
class QTextBlock;
class TArchiveText;

class TMemoFiller : public QObject {
    Q_OBJECT
public:
    explicit TMemoFiller(QPlainTextEdit* memo, QObject* parent = nullptr);

    // Replaces the memo's text by text (which must outlive the filling) and
    // fills its first part at once. The memo is read-only until the end.
    void Start(const TArchiveText* text);
    // Leaves the memo with what it holds so far.
    void Stop();
    bool Busy() const { return text_ != nullptr; }
    // Bytes of the text already in the memo.
    size_t Filled() const { return filled_; }

    // The first piece; later pieces grow while one takes less than a quarter
    // of a slice, up to kMaxChunk, and shrink again when one takes longer.
    static constexpr size_t kChunk = 64 * 1024;
    static constexpr size_t kMaxChunk = 4 * 1024 * 1024;
    static constexpr int kSliceMs = 20;  // filling per timer step
    static constexpr int kContinuedRow = 1;
    static constexpr int kFirstTimeState = 2;  // user state of a line received at 00:00:00.000

    // The receive time of the line that begins with block, if it has one. The
    // time goes with the block, so an edit of the display keeps it in place.
    static std::optional<uint32_t> BlockTime(const QTextBlock& block);

signals:
    // After each timer step that leaves more to fill.
    void Progressed();
    void Finished();

private:
    void Step();
    void FillChunk(size_t chunk);
    void MarkTimes(size_t from, size_t end);
    void Finish();

    QPlainTextEdit* memo_;
    const TArchiveText* text_ = nullptr;
    size_t filled_ = 0;
    size_t chunk_ = kChunk;
    bool wasReadOnly_ = false;
    QTimer timer_;
};
