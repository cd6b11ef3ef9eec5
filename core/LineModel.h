#pragma once
// The display's lines as bytes, one entry per received line. The receive path
// writes them; the display view draws them and hears of every change.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

class TLineModel {
public:
    int LineCount() const { return int(lines_.size()); }
    // The number of line 0 among all lines the model ever had: lines keep
    // their numbers while the front is trimmed away.
    int64_t FirstNumber() const { return firstNumber_; }
    const std::string& Line(int index) const { return lines_[size_t(index)]; }
    void AddLine();
    void AppendToLine(int index, std::string_view bytes);
    // Removes up to count bytes from the end of the line.
    void ShortenLine(int index, size_t count);
    void DeleteFirstLines(int count);
    // The whole text, lines separated by CR LF.
    std::string Text() const;

    // A line from this index on was added or changed.
    std::function<void(int index)> OnChanged;
    // The line lost bytes at its end (OnChanged follows).
    std::function<void(int index)> OnShortened;
    // This many lines left the front; the indexes of the others moved down.
    std::function<void(int count)> OnFrontRemoved;

private:
    void Changed(int index)
    {
        if (OnChanged)
            OnChanged(index);
    }

    std::deque<std::string> lines_;
    int64_t firstNumber_ = 0;
};
