#pragma once
// The bytes the viewer shows, with what a find needs: their folded form for
// searches without match case, and where the CR LF pairs lie (two bytes in the
// text, one line break in the display; every other byte is one character).
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TArchiveText {
public:
    void Assign(std::string bytes);
    const std::string& Bytes() const { return bytes_; }
    size_t Size() const { return bytes_.size(); }
    std::string_view Folded() const { return folded_; }

    // Display position (0-based) of a byte offset.
    size_t DisplayPosition(size_t offset) const;

private:
    std::string bytes_;
    std::string folded_;
    std::vector<size_t> crlf_;  // offset of the CR of each CR LF pair, ascending
};
