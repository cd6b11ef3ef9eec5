#include "archive/ArchiveText.h"

#include "support/TextSearch.h"

#include <algorithm>
#include <cstring>

void TArchiveText::Assign(std::string bytes)
{
    bytes_ = std::move(bytes);
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
    return offset - size_t(pairsBefore);
}
