#include "core/TimeIndex.h"

#include <gtest/gtest.h>

TEST(TimeIndex, TwelveLittleEndianBytesARecord)
{
    const std::string bytes = EncodeTimeRecord({0x0102030405060708ull, 0x0A0B0C0D});
    EXPECT_EQ(bytes, std::string("\x08\x07\x06\x05\x04\x03\x02\x01\x0D\x0C\x0B\x0A", 12));
    const TTimeIndex index(EncodeTimeRecord({0x0102030405060708ull, 0x03020100}) +
                           EncodeTimeRecord({0x0102030405060709ull, 5}));
    EXPECT_EQ(index.TimeAt(0x0102030405060708ull), 0x03020100u);
    EXPECT_EQ(index.TimeAt(0x0102030405060709ull), 5u);
}

TEST(TimeIndex, ShortAndDamagedRecordsGiveNoTime)
{
    std::string bytes = EncodeTimeRecord({0, 1000}) + EncodeTimeRecord({10, 2000});
    bytes += EncodeTimeRecord({5, 3000});                  // out of order
    bytes += EncodeTimeRecord({20, kMillisecondsPerDay});  // past midnight
    bytes += EncodeTimeRecord({30, 4000});
    bytes += std::string(7, '\x01');  // cut short by a crash
    const TTimeIndex index(bytes);
    EXPECT_EQ(index.Size(), 3u);
    EXPECT_EQ(index.TimeAt(10), 2000u);
    EXPECT_FALSE(index.TimeAt(5));
    EXPECT_FALSE(index.TimeAt(20));
    EXPECT_EQ(index.TimeAt(30), 4000u);
    EXPECT_FALSE(index.TimeAt(11)) << "not the start of a line with a record";
    EXPECT_EQ(TTimeIndex::Load("/nonexistent/01-01-26.TIM").Size(), 0u);
}
