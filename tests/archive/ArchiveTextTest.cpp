#include "archive/ArchiveText.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr size_t kRow = TArchiveText::kRowLimit;

std::vector<size_t> Breaks(const std::string& bytes)
{
    TArchiveText text;
    text.Assign(bytes);
    return text.RowBreaks();
}

}  // namespace

TEST(ArchiveText, LinesLongerThanARowGoOnInFurtherRows)
{
    EXPECT_TRUE(Breaks(std::string(kRow, 'x')).empty());
    EXPECT_TRUE(Breaks(std::string(kRow, 'x') + "\r\n" + std::string(kRow, 'y') + "\r\n").empty());
    EXPECT_EQ(Breaks(std::string(kRow + 1, 'x')), std::vector<size_t>{kRow});
    EXPECT_EQ(Breaks(std::string(2 * kRow, 'x') + "\r\n"), std::vector<size_t>{kRow});
    // Rows count from the start of each line; a lone CR or LF is a line break of the display too.
    const std::string mixed = "ab\r\n" + std::string(kRow + 5, 'x') + "\r" + std::string(2 * kRow + 1, 'y') + "\n" +
                              std::string(kRow + 1, 'z');
    const size_t x = 4, y = x + kRow + 5 + 1, z = y + 2 * kRow + 1 + 1;
    EXPECT_EQ(Breaks(mixed), (std::vector<size_t>{x + kRow, y + kRow, y + 2 * kRow, z + kRow}));
}

TEST(ArchiveText, DisplayPositionsCountPairsOnceAndEveryRowBreak)
{
    TArchiveText text;
    const std::string line(3 * kRow, 'x');
    text.Assign("ab\r\n" + line + "\r\nend");
    ASSERT_EQ(text.RowBreaks(), (std::vector<size_t>{4 + kRow, 4 + 2 * kRow}));
    EXPECT_EQ(text.DisplayPosition(1), 1u);
    EXPECT_EQ(text.DisplayPosition(4), 3u);
    // The first byte of a continued row is after its break; a selection ending there ends before it.
    EXPECT_EQ(text.DisplayPosition(4 + kRow), 3 + kRow + 1);
    EXPECT_EQ(text.DisplayEnd(4 + kRow), 3 + kRow);
    EXPECT_EQ(text.DisplayPosition(4 + kRow + 1), text.DisplayEnd(4 + kRow + 1));
    EXPECT_EQ(text.DisplayPosition(4 + 3 * kRow + 2), 3 + 3 * kRow + 1 + 2) << "the e of end";

    // Breaks given by the display itself (an edited text) count as they are.
    text.Assign(std::string(10, 'x'), {3, 7});
    EXPECT_EQ(text.DisplayPosition(3), 4u);
    EXPECT_EQ(text.DisplayPosition(9), 11u);
    EXPECT_EQ(text.DisplayEnd(7), 8u);
}
