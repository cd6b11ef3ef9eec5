#include "archive/ArchiveText.h"

#include "support/TextSearch.h"

#include <algorithm>
#include <cstring>

namespace {

// Where the display breaks the lines of bytes into rows of kRowLimit: each run
// of bytes between CR and LF is a line of the display.
std::vector<size_t> RowBreaksOf(const std::string& bytes)
{
    std::vector<size_t> breaks;
    const char* const data = bytes.data();
    const size_t size = bytes.size();
    for (size_t start = 0; start < size;) {
        const void* lf = std::memchr(data + start, '\n', size - start);
        const size_t end = lf ? size_t(static_cast<const char*>(lf) - data) : size;
        for (size_t run = start; end - start > TArchiveText::kRowLimit && run < end;) {
            const void* cr = std::memchr(data + run, '\r', end - run);
            const size_t runEnd = cr ? size_t(static_cast<const char*>(cr) - data) : end;
            for (size_t at = run + TArchiveText::kRowLimit; at < runEnd; at += TArchiveText::kRowLimit)
                breaks.push_back(at);
            run = runEnd + 1;
        }
        start = end + 1;
    }
    return breaks;
}

}  // namespace

void TArchiveText::Assign(std::string bytes)
{
    bytes_ = std::move(bytes);
    rowBreaks_ = RowBreaksOf(bytes_);
    Index();
}

void TArchiveText::Assign(std::string bytes, std::vector<size_t> rowBreaks)
{
    bytes_ = std::move(bytes);
    rowBreaks_ = std::move(rowBreaks);
    Index();
}

void TArchiveText::Index()
{
    times_.clear();
    folded_ = TextSearch::Folded(bytes_);
    crlf_.clear();
    const char* data = bytes_.data();
    const char* end = data + bytes_.size();
    for (const char* at = data; const void* hit = std::memchr(at, '\r', size_t(end - at));) {
        const char* cr = static_cast<const char*>(hit);
        if (cr + 1 < end && cr[1] == '\n')
            crlf_.push_back(size_t(cr - data));
        at = cr + 1;
    }
}

size_t TArchiveText::DisplayPosition(size_t offset) const
{
    const auto pairsBefore = std::lower_bound(crlf_.begin(), crlf_.end(), offset) - crlf_.begin();
    const auto breaksBefore = std::upper_bound(rowBreaks_.begin(), rowBreaks_.end(), offset) - rowBreaks_.begin();
    return offset - size_t(pairsBefore) + size_t(breaksBefore);
}

size_t TArchiveText::DisplayEnd(size_t offset) const
{
    const auto pairsBefore = std::lower_bound(crlf_.begin(), crlf_.end(), offset) - crlf_.begin();
    const auto breaksBefore = std::lower_bound(rowBreaks_.begin(), rowBreaks_.end(), offset) - rowBreaks_.begin();
    return offset - size_t(pairsBefore) + size_t(breaksBefore);
}
