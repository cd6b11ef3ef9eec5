#include "archive/MemoFiller.h"

#include "archive/ArchiveText.h"
#include "support/CodePage.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// CodePage::ToText, quicker on the mostly ASCII text of a capture file.
QString ToDisplayText(std::string_view bytes)
{
    QString text = QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    const size_t n = bytes.size();
    for (size_t i = 0; i < n; i += 8) {
        uint64_t word = kHigh;
        if (i + 8 <= n)
            std::memcpy(&word, bytes.data() + i, 8);
        if ((word & kHigh) == 0)
            continue;
        for (size_t k = i; k < std::min(i + 8, n); ++k)
            if (static_cast<unsigned char>(bytes[k]) >= 0x80)
                text[qsizetype(k)] = CodePage::ByteToChar(static_cast<unsigned char>(bytes[k]));
    }
    return text;
}

}  // namespace

TMemoFiller::TMemoFiller(QPlainTextEdit* memo, QObject* parent) : QObject(parent), memo_(memo)
{
    timer_.setSingleShot(true);
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, &TMemoFiller::Step);
}

void TMemoFiller::Start(const TArchiveText* text)
{
    Stop();
    wasReadOnly_ = memo_->isReadOnly();
    memo_->setReadOnly(true);
    // An undo history of the whole load would double its memory and time.
    memo_->setUndoRedoEnabled(false);
    memo_->clear();
    text_ = text;
    filled_ = 0;
    chunk_ = kChunk;
    FillChunk(kChunk);
    if (Busy())
        timer_.start();
}

void TMemoFiller::Stop()
{
    if (Busy()) {
        timer_.stop();
        text_ = nullptr;
        memo_->setUndoRedoEnabled(true);
        memo_->setReadOnly(wasReadOnly_);
    }
}

void TMemoFiller::Step()
{
    QElapsedTimer slice;
    slice.start();
    do {
        // Each insert has a cost of its own besides its length (the display
        // lays out its last screen), so pieces grow while they are quick.
        QElapsedTimer piece;
        piece.start();
        FillChunk(chunk_);
        const qint64 took = piece.elapsed();
        if (took * 4 < kSliceMs)
            chunk_ = std::min(chunk_ * 2, kMaxChunk);
        else if (took > kSliceMs)
            chunk_ = std::max(chunk_ / 2, kChunk);
    } while (Busy() && slice.elapsed() < kSliceMs);
    if (Busy()) {
        timer_.start();
        emit Progressed();
    }
}

void TMemoFiller::FillChunk(size_t chunk)
{
    if (!Busy())
        return;
    const std::string& bytes = text_->Bytes();
    const size_t size = bytes.size();
    size_t end = std::min(filled_ + chunk, size);
    // End a piece after a line end where one is near: a CR LF pair cut in two
    // would show as two line breaks.
    if (end < size) {
        const size_t reach = std::min(size - end, kChunk);
        if (const void* lf = std::memchr(bytes.data() + end, '\n', reach))
            end = size_t(static_cast<const char*>(lf) - bytes.data()) + 1;
        else if (bytes[end - 1] == '\r' && bytes[end] == '\n')
            ++end;
    }
    const std::vector<size_t>& breaks = text_->RowBreaks();
    const auto first = std::lower_bound(breaks.begin(), breaks.end(), filled_);
    const auto last = std::lower_bound(first, breaks.end(), end);
    QString piece;
    piece.reserve(qsizetype(end - filled_) + (last - first));
    size_t at = filled_;
    for (auto row = first; row != last; at = *row++) {
        piece += ToDisplayText(std::string_view(bytes).substr(at, *row - at));
        piece += QChar::ParagraphSeparator;
    }
    piece += ToDisplayText(std::string_view(bytes).substr(at, end - at));

    QTextDocument* document = memo_->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(piece);
    for (auto row = first; row != last; ++row)
        document->findBlock(int(text_->DisplayPosition(*row))).setUserState(kContinuedRow);
    MarkTimes(filled_, end);
    filled_ = end;
    if (filled_ >= size)
        Finish();
}

std::optional<uint32_t> TMemoFiller::BlockTime(const QTextBlock& block)
{
    const int state = block.userState();
    if (state < kFirstTimeState)
        return std::nullopt;
    return uint32_t(state - kFirstTimeState);
}

void TMemoFiller::MarkTimes(size_t from, size_t end)
{
    const std::vector<TTimeRecord>& times = text_->Times();
    auto record = std::lower_bound(times.begin(), times.end(), from,
                                   [](const TTimeRecord& r, size_t offset) { return r.Offset < offset; });
    if (record == times.end() || record->Offset >= end)
        return;
    // The records ascend, so the blocks are walked, not looked up one by one.
    QTextBlock block = memo_->document()->findBlock(int(text_->DisplayPosition(size_t(record->Offset))));
    int at = block.position();
    for (; record != times.end() && record->Offset < end; ++record) {
        const int position = int(text_->DisplayPosition(size_t(record->Offset)));
        while (block.isValid() && at + block.length() <= position) {
            at += block.length();
            block = block.next();
        }
        // A damaged record may name the middle of a line or a continued row: no time there.
        if (block.isValid() && at == position && block.userState() != kContinuedRow)
            block.setUserState(kFirstTimeState + int(record->Milliseconds));
    }
}

void TMemoFiller::Finish()
{
    Stop();
    emit Finished();
}
