#include "core/CaptureNames.h"

#include <gtest/gtest.h>

TEST(CaptureNames, TwoDigitFormsAndPaths)
{
    EXPECT_EQ(TwoDigits(0), "00");
    EXPECT_EQ(TwoDigits(7), "07");
    EXPECT_EQ(TwoDigits(99), "99");
    EXPECT_EQ(TwoDigits(2026), "26");
    EXPECT_EQ(CaptureDirectory(2026, 12), "archive/2026/12/");
    EXPECT_EQ(CaptureName(2026, 12, 7), "07-12-26.CAP");
    EXPECT_EQ(CaptureName(2027, 1, 1), "01-01-27.CAP");
    EXPECT_EQ(CaptureName(2100, 1, 1), "01-01-00.CAP");
}

TEST(CaptureNames, ThePatternMatchesTheDaysFileAndItsSiblings)
{
    EXPECT_EQ(CapturePattern(2026, 3, 5), "archive/2026/03/05-03-26.*");
    EXPECT_EQ(CaptureDirectory(2026, 3) + CaptureName(2026, 3, 5), "archive/2026/03/05-03-26.CAP");
}

// A clock reset to 1970 names its files with the year's own two digits.
TEST(CaptureNames, YearsBefore2000KeepTheirLastTwoDigits)
{
    EXPECT_EQ(CaptureName(1970, 1, 1), "01-01-70.CAP");
    EXPECT_EQ(CapturePattern(1999, 12, 31), "archive/1999/12/31-12-99.*");
}
