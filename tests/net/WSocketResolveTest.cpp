#include "net/WSocketResolve.h"
#include "tests/net/NetTestUtil.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string>

TEST(WSocketResolve, PortTexts)
{
    EXPECT_EQ(WSocketResolvePort("2323x", "tcp"), 2323) << "only the leading digits count";
    EXPECT_EQ(WSocketResolvePort(" 23 ", "tcp"), 23);
    EXPECT_EQ(WSocketResolvePort("23" + std::string(29, ' '), "tcp"), 23) << "31 characters still fit";
    EXPECT_EQ(WSocketResolvePort("telnet", "tcp"), 23);
    EXPECT_EQ(ErrorText([] { WSocketResolvePort("nosuchservice", "tcp"); }),
              "WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");
    EXPECT_EQ(ErrorText([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ErrorText([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ErrorText([] { WSocketResolvePort("23", ""); }), "WSocketResolvePort: Invalid Proto.");
    // Numbers past 16 bits, also those that would wrap to a small port, are refused.
    EXPECT_EQ(ErrorText([] { WSocketResolvePort("99999", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ErrorText([] { WSocketResolvePort("4294967319", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ErrorText([] { WSocketResolvePort("18446744073709551639", "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
}

TEST(WSocketResolve, ProtocolTexts)
{
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto(" udp "), 17);
    EXPECT_EQ(WSocketResolveProto("17abc"), 17);
    EXPECT_EQ(ErrorText([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(ErrorText([] { WSocketResolveProto(std::string(32, 't')); }), "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(ErrorText([] { WSocketResolveProto("nosuchproto"); }),
              "WSocketResolveProto: Cannot convert protocol 'nosuchproto', Error #11004");
}

TEST(WSocketResolve, HostTexts)
{
    EXPECT_EQ(WSocketResolveHost(" 127.0.0.1 "), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(ErrorText([] { WSocketResolveHost(""); }), "WSocketResolveHost: '' Invalid Hostname.");
    std::string tooLong(257, 'h');
    EXPECT_EQ(ErrorText([&] { WSocketResolveHost(tooLong); }),
              "WSocketResolveHost: '" + tooLong + "' Invalid Hostname.");
}

TEST(WSocketResolve, ZeroPaddedGroupsReadAsDecimal)
{
    EXPECT_EQ(WSocketResolveHost("127.000.000.001"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(WSocketResolveHost(" 010.000.001.255 "), htonl(0x0A0001FF)) << "010 is ten, not eight";
    EXPECT_EQ(WSocketResolveHost("008.009.01.1"), htonl(0x08090101)) << "8 and 9 are no octal digits";
    EXPECT_EQ(WSocketResolveHost("000.000.000.000"), 0u);
    EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
}

TEST(WSocketResolve, DottedAddresses)
{
    EXPECT_TRUE(WSocketIsDottedIP("  10.0.0.255 "));
    EXPECT_TRUE(WSocketIsDottedIP("010.000.001.255"));
    EXPECT_TRUE(WSocketIsDottedIP("0.0.0.0"));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0.256"));
    EXPECT_FALSE(WSocketIsDottedIP("99999999999999999999.0.0.1"));
    EXPECT_FALSE(WSocketIsDottedIP(".10.0.0.1"));
    EXPECT_FALSE(WSocketIsDottedIP("10..0.1"));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0"));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0.1.2"));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0.1 x"));
    EXPECT_FALSE(WSocketIsDottedIP(""));
}

TEST(WSocketResolve, TrimDropsBlanksAndControlsAtBothEnds)
{
    EXPECT_EQ(WSocketTrim("\t a b \r\n"), "a b");
    EXPECT_EQ(WSocketTrim(std::string(" \0x\0 ", 5)), "x");
    EXPECT_EQ(WSocketTrim("   "), "");
    EXPECT_EQ(WSocketTrim("\xe0z\xff"), "\xe0z\xff") << "bytes above 127 are text";
}
