#include "core/EventText.h"

#include <gtest/gtest.h>

TEST(EventText, BytesReadAsCyrillicWithControlsAndBackslashesEscaped)
{
    EXPECT_EQ(EventBytes("DIS 12\r"), "DIS 12\\x0D");
    EXPECT_EQ(EventBytes(std::string("a\0b\x1b\x7f", 5)), "a\\x00b\\x1B\\x7F");
    EXPECT_EQ(EventBytes("C:\\path"), "C:\\\\path");
    EXPECT_EQ(EventBytes("\xCF\xD0\xC8\xC2\xC5\xD2"), "ПРИВЕТ");
    EXPECT_EQ(EventBytes("\x98"), "\\x98") << "the byte without a character";
    EXPECT_EQ(EventBytes("\xB9 \xA0"), "№ \u00A0");
}

TEST(EventText, TextsKeepTheirCharactersButNotTheirLineEnds)
{
    EXPECT_EQ(EventText("Connection refused"), "Connection refused");
    EXPECT_EQ(EventText("two\nlines\t\\"), "two\\x0Alines\\x09\\\\");
    EXPECT_EQ(EventText("ПРИВЕТ"), "ПРИВЕТ");
}

TEST(EventText, OneLineWithMillisecondsAndTabs)
{
    EXPECT_EQ(EventLine(QTime(9, 5, 7, 42), "port-open", "ttyUSB0 9600"), "09:05:07.042\tport-open\tttyUSB0 9600\n");
    EXPECT_EQ(EventLine(QTime(23, 59, 59, 999), "program-end", ""), "23:59:59.999\tprogram-end\t\n");
}
