#include "support/MyUtils.h"

#include <gtest/gtest.h>

TEST(IsDottedQuad, AcceptsFourGroupsUpTo255)
{
    for (const char* text : {"127.0.0.1", "0.0.0.0", "255.255.255.255", "010.000.001.255", "192.168.1.10"})
        EXPECT_TRUE(IsDottedQuad(text)) << text;
}

TEST(IsDottedQuad, RejectsEverythingElse)
{
    for (const char* text : {"", "256.1.1.1", "1.2.3", "1.2.3.4.5", "1..2.3", "1.2.3.4.", ".1.2.3", "1234.1.1.1",
                             "1.2.3.256", "1.2.3.0255", " 1.2.3.4", "1.2.3.4 ", "1.2.3.x", "host.example", "1.2.3.-4"})
        EXPECT_FALSE(IsDottedQuad(text)) << '"' << text << '"';
}

TEST(GetPiece, PiecesEndAtTheirDelimiter)
{
    EXPECT_EQ(GetPiece("A^B^C^", 1, 1, '^'), "A");
    EXPECT_EQ(GetPiece("A^B^C^", 2, 1, '^'), "B");
    EXPECT_EQ(GetPiece("A^B^C^", 3, 1, '^'), "C");
    EXPECT_EQ(GetPiece("A^B^C^", 4, 1, '^'), "");
    EXPECT_EQ(GetPiece("^", 1, 1, '^'), "");
    EXPECT_EQ(GetPiece("", 1, 1, '^'), "");
}

TEST(GetPiece, SeveralPiecesKeepInnerDelimiters)
{
    EXPECT_EQ(GetPiece("A^B^C^", 2, 2, '^'), "B^C");
    EXPECT_EQ(GetPiece("A^B^C^", 1, 3, '^'), "A^B^C");
    EXPECT_EQ(GetPiece("A^^C^", 2, 1, '^'), "");
    EXPECT_EQ(GetPiece("A^^C^", 3, 1, '^'), "C");
}

TEST(GetPiece, UnclosedLastPieceLosesItsLastCharacter)
{
    EXPECT_EQ(GetPiece("A^BC", 2, 1, '^'), "B");
    EXPECT_EQ(GetPiece("ABC", 1, 1, '^'), "AB");
}

TEST(GetPiece, BytesPassThrough)
{
    const std::string text("\x00\xFF^\xE9z^", 6);
    EXPECT_EQ(GetPiece(text, 1, 1, '^'), std::string("\x00\xFF", 2));
    EXPECT_EQ(GetPiece(text, 2, 1, '^'), "\xE9z");
}

TEST(HexDigitsOf, KeepsHexDigitsInOrder)
{
    EXPECT_EQ(HexDigitsOf("2323"), "2323");
    EXPECT_EQ(HexDigitsOf("telnet"), "ee");
    EXPECT_EQ(HexDigitsOf(" 0x1F-ab "), "01Fab");
    EXPECT_EQ(HexDigitsOf("xyz gh"), "");
    EXPECT_EQ(HexDigitsOf(""), "");
}
