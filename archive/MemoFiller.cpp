#include "archive/MemoFiller.h"

#include "archive/ArchiveText.h"
#include "support/CodePage.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
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
    FillChunk();
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
    do
        FillChunk();
    while (Busy() && slice.elapsed() < kSliceMs);
    if (Busy()) {
        timer_.start();
        emit Progressed();
    }
}

void TMemoFiller::FillChunk()
{
    if (!Busy())
        return;
    const std::string& bytes = text_->Bytes();
    const size_t size = bytes.size();
    size_t end = std::min(filled_ + kChunk, size);
    // End a piece after a line end where one is near: a CR LF pair cut in two
    // would show as two line breaks.
    if (end < size) {
        const size_t reach = std::min(size - end, kChunk);
        if (const void* lf = std::memchr(bytes.data() + end, '\n', reach))
            end = size_t(static_cast<const char*>(lf) - bytes.data()) + 1;
        else if (bytes[end - 1] == '\r' && bytes[end] == '\n')
            ++end;
    }
    QTextCursor cursor(memo_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(ToDisplayText(std::string_view(bytes).substr(filled_, end - filled_)));
    filled_ = end;
    if (filled_ >= size)
        Finish();
}

void TMemoFiller::Finish()
{
    Stop();
    emit Finished();
}
