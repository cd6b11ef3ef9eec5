#include "core/LineModel.h"

#include <algorithm>

void TLineModel::AddLine()
{
    lines_.emplace_back();
    Changed(int(lines_.size()) - 1);
}

void TLineModel::AppendToLine(int index, std::string_view bytes)
{
    if (bytes.empty())
        return;
    lines_[size_t(index)].append(bytes);
    Changed(index);
}

void TLineModel::ShortenLine(int index, size_t count)
{
    std::string& line = lines_[size_t(index)];
    line.resize(line.size() - std::min(count, line.size()));
    if (OnShortened)
        OnShortened(index);
    Changed(index);
}

void TLineModel::DeleteFirstLines(int count)
{
    count = std::min(count, int(lines_.size()));
    if (count <= 0)
        return;
    lines_.erase(lines_.begin(), lines_.begin() + count);
    firstNumber_ += count;
    if (OnFrontRemoved)
        OnFrontRemoved(count);
}

std::string TLineModel::Text() const
{
    size_t total = 0;
    for (const auto& line : lines_)
        total += line.size() + 2;
    std::string text;
    text.reserve(total);
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i)
            text += "\r\n";
        text += lines_[i];
    }
    return text;
}
