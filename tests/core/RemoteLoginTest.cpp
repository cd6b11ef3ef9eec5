#include "core/RemoteLogin.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using D = TLoginDecision;

class RemoteLogin : public ::testing::Test {
protected:
    D Take(const std::string& bytes)
    {
        return line_.Take(bytes, [this] {
            ++asked_;
            return passwords_;
        });
    }
    // A fresh line given all of bytes at once.
    D Whole(const std::string& bytes)
    {
        line_.Clear();
        return Take(bytes);
    }

    TLoginPasswords passwords_{"secret", "look"};
    TLoginLine line_;
    int asked_ = 0;
};

}  // namespace

TEST_F(RemoteLogin, TheLineEndsAtTheFirstCarriageReturnAndIsDecidedOnce)
{
    EXPECT_EQ(Whole("secret\r\n"), D::Full);
    EXPECT_EQ(Whole("look\r"), D::Viewer);
    EXPECT_EQ(Whole("Secret\r"), D::Wrong) << "case counts";
    EXPECT_EQ(Whole("secret \r"), D::Wrong);
    EXPECT_EQ(Whole("\xff\xfb\x18secret\r"), D::Wrong) << "telnet commands are part of the line";

    line_.Clear();
    asked_ = 0;
    for (char c : std::string("loo"))
        EXPECT_EQ(Take(std::string(1, c)), D::Wait);
    EXPECT_EQ(Take("k\n"), D::Wait) << "a line feed does not end the line";
    EXPECT_EQ(asked_, 0) << "the passwords are read when the line completes";
    passwords_.Viewer = "look\n";  // edited meanwhile
    EXPECT_EQ(Take("\rsecret\r"), D::Viewer);
    EXPECT_EQ(asked_, 1);
    EXPECT_EQ(Take("secret\r"), D::Viewer) << "the line is spent";
    EXPECT_EQ(asked_, 1);

    passwords_ = {"same", "same"};
    EXPECT_EQ(Whole("same\r"), D::Full);
}

TEST_F(RemoteLogin, AnEmptyPasswordSwitchesItsLevelOff)
{
    passwords_ = {"", "look"};
    EXPECT_EQ(Whole("\r"), D::Wrong);
    EXPECT_EQ(Whole("look\r"), D::Viewer);
    passwords_ = {"secret", ""};
    EXPECT_EQ(Whole("\r"), D::Wrong);
    EXPECT_EQ(Whole("secret\r"), D::Full);
    passwords_ = {"", ""};
    EXPECT_EQ(Whole("\r\n"), D::Wrong);
}

TEST_F(RemoteLogin, ALineMustEndWithinTheLimitWhateverThePieces)
{
    const std::string longest(TLoginLine::kLimit - 1, 'x');
    passwords_.Full = longest;
    EXPECT_EQ(Whole(longest + "\r"), D::Full);
    EXPECT_EQ(Whole(longest + "y\r"), D::TooLong);
    EXPECT_EQ(Whole(std::string(1 << 20, 'z')), D::TooLong);
    EXPECT_LE(line_.Text().size(), TLoginLine::kLimit);

    line_.Clear();
    EXPECT_EQ(Take(std::string(200, 'x')), D::Wait);
    EXPECT_EQ(Take(std::string(55, 'x')), D::Wait);
    EXPECT_EQ(Take("\r"), D::Full);
    line_.Clear();
    EXPECT_EQ(Take(std::string(200, 'x')), D::Wait);
    EXPECT_EQ(Take(std::string(100, 'x') + "\r"), D::TooLong) << "the carriage return came too late";
}
