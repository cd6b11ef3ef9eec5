#include "support/MyUtils.h"

#include <algorithm>
#include <cstdint>

bool IsDottedQuad(std::string_view text)
{
    if (text.empty())
        return false;
    int dots = 0;
    int digits = 0;
    int group = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            if (++digits > 3)
                return false;
            group = group * 10 + (c - '0');
        } else if (c == '.') {
            if (++dots > 3 || digits == 0 || group > 255)
                return false;
            digits = 0;
            group = 0;
        } else {
            return false;
        }
    }
    return dots == 3 && digits > 0 && group < 256;
}

std::string GetPiece(std::string_view text, int first, int count, char delimiter)
{
    const int64_t last = int64_t(first) + count - 1;
    std::string result;
    int64_t piece = 1;
    for (const char c : text) {
        if (piece >= first && piece <= last)
            result += c;
        if (c == delimiter)
            ++piece;
        if (piece > last)
            break;
    }
    if (!result.empty())
        result.pop_back();
    return result;
}

std::string HexDigitsOf(std::string_view text)
{
    std::string digits;
    for (const char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))
            digits += c;
    }
    return digits;
}
