#include "net/WSocketErrors.h"

#include <gtest/gtest.h>

TEST(WSocketErrors, Descriptions)
{
    EXPECT_EQ(WSocketErrorDesc(0), "No Error");
    EXPECT_EQ(WSocketErrorDesc(10038), "Socket operation on non-socket");
    EXPECT_EQ(WSocketErrorDesc(10053), "Connection aborted");
    EXPECT_EQ(WSocketErrorDesc(10061), "Connection refused");
    EXPECT_EQ(WSocketErrorDesc(10093), "WinSock not initialized");
    EXPECT_EQ(WSocketErrorDesc(11004), "No Data");
    // Numbers between and beside the listed ones, and raw errno values.
    for (int code : {-1, 10000, 10072, 10090, 10094, 11000, 11005, 71})
        EXPECT_EQ(WSocketErrorDesc(code), "Not a WinSock error") << code;
}
