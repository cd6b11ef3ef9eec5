#include "serial/SerialDevicePosix.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace SerialDevice;

namespace {
TermiosImage Filled(const LineSettings& s)
{
    TermiosImage t;
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_iflag = ICRNL | IXON | INPCK | PARMRK | IGNPAR | ISTRIP;
    t.c_oflag = OPOST;
    t.c_cflag = HUPCL | PARENB;
    EXPECT_EQ(FillTermios(t, s), 0);
    return t;
}
}  // namespace

TEST(SerialTermios, AnySpeedGoesThroughBother)
{
    for (uint32_t baud : {1200u, 9600u, 14400u, 38400u, 56000u, 128000u, 256000u}) {
        LineSettings s;
        s.BaudRate = baud;
        TermiosImage t = Filled(s);
        EXPECT_EQ(t.c_cflag & kCbaud, kBother) << baud;
        EXPECT_EQ(t.c_ospeed, baud);
        EXPECT_EQ(t.c_ispeed, baud);
    }
}

TEST(SerialTermios, RawEightNoneOneByDefault)
{
    TermiosImage t = Filled(LineSettings{});
    EXPECT_EQ(t.c_cflag & CSIZE, uint32_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | INPCK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(SerialTermios, DataBitsParityStopBitsAndFlow)
{
    LineSettings s;
    const uint32_t sizes[] = {CS5, CS6, CS7, CS8};
    for (uint8_t bits = 5; bits <= 8; ++bits) {
        s.DataBits = bits;
        EXPECT_EQ(Filled(s).c_cflag & CSIZE, sizes[bits - 5]);
    }
    const uint32_t parity[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR};
    for (uint8_t p = 0; p <= 4; ++p) {
        s.ParityType = p;
        EXPECT_EQ(Filled(s).c_cflag & (PARENB | PARODD | CMSPAR), parity[p]) << int(p);
    }
    s.ParityErrorReplacement = true;
    EXPECT_TRUE(Filled(s).c_iflag & INPCK);
    s.StopBits = 2;
    EXPECT_TRUE(Filled(s).c_cflag & CSTOPB);
    s.FlowControl = 0x0004 | 0x0100 | 0x0200;
    s.XONChar = 0x11;
    s.XOFFChar = 0x13;
    TermiosImage t = Filled(s);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), uint32_t(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
}

TEST(SerialTermios, ParityIsCheckedWhateverTheReplacement)
{
    LineSettings s;
    for (bool replace : {false, true}) {
        s.ParityErrorReplacement = replace;
        s.ParityType = 0;
        EXPECT_EQ(Filled(s).c_iflag & (INPCK | PARMRK | IGNPAR), 0u) << replace;
        for (uint8_t p = 1; p <= 4; ++p) {
            s.ParityType = p;
            TermiosImage t = Filled(s);
            EXPECT_TRUE(t.c_iflag & INPCK) << int(p) << replace;
            // Replacing: the kernel reads a bad byte as NUL. Not replacing: it
            // marks the byte, and the worker passes it on as received.
            EXPECT_EQ(bool(t.c_iflag & PARMRK), !replace) << int(p);
            EXPECT_EQ(t.c_iflag & (IGNPAR | ISTRIP), 0u) << "a bad byte is never dropped or cut to 7 bits";
        }
    }
}

TEST(SerialErrorMarks, MarkedInputComesBackAsReceived)
{
    TErrorMarkDecoder d;
    // 255 doubled, 'c' received with an error, a break (NUL marked), a stray
    // 255 that is no mark (queued before marking was switched on).
    const std::string marked("a\xff\xff"
                             "b\xff\0c\xff\0\0d\xff"
                             "e",
                             13);
    const std::string received("a\xff"
                               "bc\0d\xff"
                               "e",
                               8);
    EXPECT_EQ(d.Decode(marked), received);
    std::string oneByOne;
    for (char c : marked)
        oneByOne += d.Decode(std::string(1, c));
    EXPECT_EQ(oneByOne, received) << "a mark cut between reads is finished by the next";
    EXPECT_EQ(d.Decode(""), "");
}

TEST(SerialErrorMarks, WhatAReadLeftUnfinishedIsNotLost)
{
    TErrorMarkDecoder d;
    EXPECT_EQ(d.Decode("a\xff"), "a");
    EXPECT_EQ(d.TakeHeld(), "\xff") << "marking switched off: the 255 was data";
    EXPECT_EQ(d.Decode("b"), "b");
    EXPECT_EQ(d.Decode(std::string("\xff\0", 2)), "");
    EXPECT_EQ(d.TakeHeld(), "") << "the byte with the error follows unmarked";
    EXPECT_EQ(d.Decode("x"), "x");
    d.Decode("\xff");
    d.Reset();
    EXPECT_EQ(d.Decode("y"), "y") << "a new open starts clean";
}

TEST(SerialTermios, RtsModesOtherThanHandshakeLeaveCtsFlowOff)
{
    LineSettings s;
    for (int32_t rts : {0x1000, 0x3000}) {
        s.FlowControl = rts;  // enable, toggle: transmission must not wait for CTS
        EXPECT_FALSE(Filled(s).c_cflag & CRTSCTS) << std::hex << rts;
    }
    s.FlowControl = 0x2000;
    EXPECT_TRUE(Filled(s).c_cflag & CRTSCTS);
    s.FlowControl = 0x3000 | 0x0004;
    EXPECT_TRUE(Filled(s).c_cflag & CRTSCTS);
}

TEST(SerialTermios, ImpossibleSettingsAreRefused)
{
    TermiosImage t;
    LineSettings s;
    s.DataBits = 9;
    EXPECT_EQ(FillTermios(t, s), EINVAL);
    s = {};
    s.ParityType = 5;
    EXPECT_EQ(FillTermios(t, s), EINVAL);
    s = {};
    s.StopBits = 3;
    EXPECT_EQ(FillTermios(t, s), EINVAL);
}

TEST(SerialTermios, ReadBackAllowsUartRounding)
{
    TermiosImage asked = Filled(LineSettings{});
    TermiosImage got = asked;
    got.c_ospeed = 9615;
    EXPECT_TRUE(TermiosTook(asked, got));
    got.c_ospeed = 4800;
    EXPECT_FALSE(TermiosTook(asked, got));
    got = asked;
    got.c_cflag &= ~CSTOPB;
    got.c_cflag ^= CS8 ^ CS7;
    EXPECT_FALSE(TermiosTook(asked, got));
}

TEST(SerialTermios, NamesWithoutSlashOpenUnderDev)
{
    EXPECT_EQ(DevicePath("ttyS0"), "/dev/ttyS0");
    EXPECT_EQ(DevicePath("/tmp/pbx"), "/tmp/pbx");
    EXPECT_EQ(DevicePath(std::string(100, 'x')).size(), 5u + 79u);
}

TEST(SerialModemLines, APtyHasNoneAndSaysSo)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    uint32_t status = 0xFF;
    bool supported = true;
    EXPECT_EQ(GetModemStatus(slave, status, &supported), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_FALSE(supported);
    ErrorCounters counters;
    EXPECT_EQ(GetErrorCounters(slave, counters), 0);
    EXPECT_FALSE(counters.Valid);
    close(slave);
    close(master);
}
