#include "net/TelnetParser.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::string Hex(std::string_view bytes)
{
    std::string out;
    char buf[8];
    for (unsigned char c : bytes) {
        snprintf(buf, sizeof buf, out.empty() ? "%u" : " %u", c);
        out += buf;
    }
    return out;
}

// Feeds a transcript and lists what came out, one line per event.
struct Transcript {
    Transcript()
        : parser([this](const TTelnetEvent& e) {
              switch (e.type) {
              case TTelnetEvent::Data:
                  events.push_back("data " + std::string(e.bytes));
                  break;
              case TTelnetEvent::Send:
                  events.push_back("send " + Hex(e.bytes));
                  break;
              case TTelnetEvent::Subnegotiation:
                  events.push_back("sb " + Hex(e.bytes));
                  break;
              case TTelnetEvent::EndOfRecord:
                  events.push_back("eor");
                  break;
              case TTelnetEvent::Command:
                  events.push_back("dropped " + std::to_string(e.option));
                  break;
              case TTelnetEvent::LocalEcho:
                  events.push_back(parser.LocalEcho() ? "echo local" : "echo remote");
                  break;
              case TTelnetEvent::SendLocation:
                  events.push_back("location?");
                  parser.SetLocation(locationOnAsk);
                  break;
              case TTelnetEvent::TermType:
                  events.push_back("termtype?");
                  break;
              case TTelnetEvent::Negotiation:
                  break;
              }
          })
    {}
    std::vector<std::string> Feed(std::string_view bytes)
    {
        events.clear();
        parser.Feed(bytes);
        return events;
    }
    std::string Data() const
    {
        std::string all;
        for (auto& e : events)
            if (e.rfind("data ", 0) == 0)
                all += e.substr(5);
        return all;
    }
    std::vector<std::string> events;
    std::string locationOnAsk = "TNCNX";
    TTelnetParser parser;
};

using V = std::vector<std::string>;

}  // namespace

TEST(TelnetParser, TerminalTypeExchange)
{
    Transcript t;
    EXPECT_EQ(t.Feed("\xff\xfd\x18"), V{"send 255 251 24"});
    EXPECT_TRUE(t.parser.TermTypeOrEorAgreed());
    EXPECT_EQ(t.Feed("\xff\xfa\x18\x01\xff\xf0"),
              (V{"sb 24 1", "termtype?", "send 255 250 24 0 86 84 49 48 48 255 240"}));  // IS "VT100"
}

TEST(TelnetParser, OptionAnswers)
{
    Transcript t;
    EXPECT_EQ(t.Feed("\xff\xfd\x1f"), V{"send 255 252 31"});  // DO 31 -> WONT
    EXPECT_EQ(t.Feed("\xff\xfb\x05"), V{"send 255 254 5"});   // WILL 5 -> DONT
    EXPECT_EQ(t.Feed("\xff\xfc\x05"), V{"send 255 252 5"});   // WONT 5 -> WONT
    EXPECT_EQ(t.Feed("\xff\xfe\x05"), V{"send 255 252 5"});   // DONT 5 -> WONT
    EXPECT_EQ(t.Feed(std::string("\xff\xfb\x00", 3)), V{"send 255 253 0"});
    EXPECT_TRUE(t.parser.Binary());
    EXPECT_EQ(t.Feed(std::string("\xff\xfc\x00", 3)), V{});
    EXPECT_FALSE(t.parser.Binary());
    EXPECT_EQ(t.Feed("\xff\xfb\x03"), V{"send 255 253 3"});
    EXPECT_EQ(t.Feed("\xff\xfd\x19"), V{"send 255 251 25"});
    // The listed options ignore the verbs they do not answer.
    EXPECT_EQ(t.Feed(std::string("\xff\xfd\x00\xff\xfd\x03\xff\xfb\x18\xff\xfe\x17", 12)), V{});
}

TEST(TelnetParser, EchoDecidesLocalEcho)
{
    Transcript t;
    t.parser.SetLocalEcho(true);
    EXPECT_EQ(t.Feed("\xff\xfb\x01"), (V{"send 255 253 1", "echo remote"}));
    EXPECT_FALSE(t.parser.LocalEcho());
    EXPECT_EQ(t.Feed("\xff\xfc\x01"), V{"echo local"});
    EXPECT_TRUE(t.parser.LocalEcho());
    EXPECT_EQ(t.Feed("\xff\xfd\x01"), V{"echo local"}) << "DO ECHO is noted, not answered";
}

TEST(TelnetParser, SendLocationAsksBeforeSending)
{
    Transcript t;
    t.locationOnAsk = "ROOM";
    EXPECT_EQ(t.Feed("\xff\xfd\x17"), (V{"send 255 251 23", "location?", "send 255 250 23 82 79 79 77 255 240"}));
}

TEST(TelnetParser, DataAroundCommands)
{
    Transcript t;
    EXPECT_EQ(t.Feed("ab\xff\xff"
                     "cd"),
              (V{"data ab", "data \xff", "data cd"}));
    t.Feed("x\xff\xf1y");  // NOP
    EXPECT_EQ(t.Data(), "xy");
    EXPECT_EQ(t.events[1], "dropped 241");
    EXPECT_EQ(t.Feed("a\xff\xefz"), (V{"data a", "eor", "data z"}));
    // Bytes 244 to 248 without IAC are data.
    EXPECT_EQ(t.Feed("\xf4\xf8"), V{"data \xf4\xf8"});
}

TEST(TelnetParser, CommandsSplitAcrossReads)
{
    Transcript t;
    std::string all;
    for (char c : std::string("\xff\xfd\x18q\xff\xfa\x18\x01\xff\xf0r\xff\xff")) {
        for (auto& e : t.Feed(std::string_view(&c, 1)))
            all += e + ";";
    }
    EXPECT_EQ(all,
              "send 255 251 24;data q;sb 24 1;termtype?;send 255 250 24 0 86 84 49 48 48 255 240;data r;data \xff;");
}

TEST(TelnetParser, OverlongSubnegotiationIsDroppedWhole)
{
    Transcript t;
    std::string sb = "\xff\xfa\x18\x01" + std::string(TTelnetParser::kMaxSubnegotiation, 'z') + "\xff\xf0";
    EXPECT_EQ(t.Feed(sb + "after"), V{"data after"});
    // One that just fits is still handled.
    std::string fits = "\xff\xfa\x18\x01" + std::string(TTelnetParser::kMaxSubnegotiation - 2, 'z') + "\xff\xf0";
    auto events = t.Feed(fits);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1], "termtype?");
}

TEST(TelnetParser, OnlyIacSeEndsASubnegotiation)
{
    Transcript t;
    // A 240 alone is part of the subnegotiation; IAC IAC in it is one 255.
    EXPECT_EQ(t.Feed("\xff\xfa\x63"
                     "a\xf0"
                     "b\xff\xff\xf0\xff\xf0"
                     "x"),
              (V{"sb 99 97 240 98 255 240", "data x"}));
    EXPECT_EQ(t.Feed("\xff\xfa\x18\xf0\x01\xff\xf0"), V{"sb 24 240 1"}) << "not a terminal-type request";
    // Another command inside ends the broken subnegotiation unhandled and is
    // taken as a command.
    EXPECT_EQ(t.Feed("\xff\xfa\x18\x01\xff\xfb\x01"
                     "y"),
              (V{"send 255 253 1", "echo remote", "data y"}));
}

TEST(TelnetParser, ResetForgetsAnUnfinishedCommand)
{
    Transcript t;
    t.Feed("\xff\xfa\x18");
    t.parser.Reset();
    EXPECT_EQ(t.Feed("hello"), V{"data hello"});
    t.Feed("\xff");
    t.parser.Reset();
    EXPECT_EQ(t.Feed("\xfb"
                     "x"),
              V{"data \xfb"
                "x"});
    t.Feed("\xff\xfa\x18\x01\xff");
    t.parser.Reset();
    EXPECT_EQ(t.Feed("\xf0z"), V{"data \xf0z"});
    t.Feed("\xff\xfd");
    t.parser.Reset();
    EXPECT_EQ(t.Feed("\x18"), V{"data \x18"});
}

TEST(TelnetParser, EscapeDoublesEveryIAC)
{
    EXPECT_EQ(TelnetEscapeIAC(std::string("a\xff"
                                          "b\xff\xff",
                                          5)),
              std::string("a\xff\xff"
                          "b\xff\xff\xff\xff",
                          8));
    EXPECT_EQ(TelnetEscapeIAC(std::string("\0x", 2)), std::string("\0x", 2));
    // What the escape makes, the parser turns back into the same bytes.
    Transcript t;
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    t.Feed(TelnetEscapeIAC(all));
    EXPECT_EQ(t.Data(), all);
}
