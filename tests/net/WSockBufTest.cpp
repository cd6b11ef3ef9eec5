#include "net/WSockBuf.h"

#include <gtest/gtest.h>
#include <string>

TEST(TBuffer, WritesUntilFullAndRefillsOnceDrained)
{
    TBuffer b(8);
    EXPECT_EQ(b.Write("abcdef", 6), 6);
    EXPECT_EQ(b.Write("ghijkl", 6), 2);
    EXPECT_EQ(b.Write("x", 1), 0);
    int len = 0;
    const char* p = b.Peek(len);
    ASSERT_EQ(len, 8);
    EXPECT_EQ(std::string(p, 8), "abcdefgh");
    EXPECT_EQ(b.Remove(3), 3);
    p = b.Peek(len);
    EXPECT_EQ(std::string(p, size_t(len)), "defgh");
    EXPECT_EQ(b.Write("y", 1), 0) << "a block is not compacted while bytes wait";
    EXPECT_EQ(b.Remove(100), 5);
    EXPECT_EQ(b.Peek(len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(b.Write("12345678", 8), 8) << "a drained block starts again at 0";
}

TEST(TBuffer, SizeRules)
{
    EXPECT_EQ(TBuffer(0).BufSize(), 1514);
    EXPECT_EQ(TBuffer(-5).BufSize(), 1514);
    TBuffer b(4);
    b.Write("abcd", 4);
    b.Remove(1);
    b.SetBufSize(10);
    int len = 0;
    const char* p = b.Peek(len);
    EXPECT_EQ(std::string(p, size_t(len)), "bcd");
    EXPECT_EQ(b.Write("efghijk", 7), 6);
    b.SetBufSize(2);  // shrinking keeps what fits instead of overrunning
    p = b.Peek(len);
    EXPECT_EQ(std::string(p, size_t(len)), "b");
}
