#pragma once
// The bytes the viewer shows, with what a find needs: their folded form for
// searches without match case, and how byte offsets map to display positions.
// A CR LF pair is two bytes and one line break in the display, and a line
// longer than kRowLimit goes on in further display rows, each break one
// character of the display; every other byte is one character.
#include "core/TimeIndex.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TArchiveText {
public:
    // Characters in one display row at most. The display lays out a row as a
    // whole, so a longer one would cost its full length on every change.
    static constexpr size_t kRowLimit = 1024;

    // Rows break by the rule above.
    void Assign(std::string bytes);
    // Rows break where rowBreaks say: ascending offsets of the first byte of
    // each continued row.
    void Assign(std::string bytes, std::vector<size_t> rowBreaks);
    const std::string& Bytes() const { return bytes_; }
    size_t Size() const { return bytes_.size(); }
    std::string_view Folded() const { return folded_; }
    const std::vector<size_t>& RowBreaks() const { return rowBreaks_; }

    // The receive times of the lines that start at the records' offsets, in
    // ascending offsets; Assign clears them.
    void SetTimes(std::vector<TTimeRecord> times) { times_ = std::move(times); }
    const std::vector<TTimeRecord>& Times() const { return times_; }

    // Display position (0-based) of the byte at offset.
    size_t DisplayPosition(size_t offset) const;
    // Display position where a selection of the bytes before offset ends.
    size_t DisplayEnd(size_t offset) const;

private:
    void Index();

    std::string bytes_;
    std::string folded_;
    std::vector<size_t> crlf_;       // offset of the CR of each CR LF pair, ascending
    std::vector<size_t> rowBreaks_;  // offset of the first byte of each continued row, ascending
    std::vector<TTimeRecord> times_;
};
