#include "core/LineModel.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class LineModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        model_.OnChanged = [this](int index) { changed_.push_back(index); };
        model_.OnFrontRemoved = [this](int count) { removed_.push_back(count); };
    }

    TLineModel model_;
    std::vector<int> changed_;
    std::vector<int> removed_;
};

}  // namespace

TEST_F(LineModel, TextJoinsTheLinesWithCrLfAndNoLineEndAfterTheLast)
{
    EXPECT_EQ(model_.Text(), "");
    model_.AddLine();
    EXPECT_EQ(model_.Text(), "");
    model_.AppendToLine(0, "one");
    model_.AddLine();
    model_.AddLine();
    model_.AppendToLine(2, std::string("t\0\xFF", 3));
    EXPECT_EQ(model_.Text(), std::string("one\r\n\r\nt\0\xFF", 10));
}

TEST_F(LineModel, ShorteningPastTheStartEmptiesTheLine)
{
    std::vector<std::string> heard;
    model_.OnShortened = [&](int index) { heard.push_back("shortened " + std::to_string(index)); };
    model_.OnChanged = [&](int index) { heard.push_back("changed " + std::to_string(index)); };
    model_.AddLine();
    model_.AppendToLine(0, "abc");
    heard.clear();
    model_.ShortenLine(0, 1);
    EXPECT_EQ(heard, (std::vector<std::string>{"shortened 0", "changed 0"}));
    EXPECT_EQ(model_.Line(0), "ab");
    model_.ShortenLine(0, 10);
    EXPECT_EQ(model_.Line(0), "");
    model_.ShortenLine(0, 1);
    EXPECT_EQ(model_.Line(0), "");
    EXPECT_EQ(model_.LineCount(), 1);
}

TEST_F(LineModel, DeletingMoreLinesThanThereAreRemovesAllAndReportsHowMany)
{
    for (int i = 0; i < 5; ++i) {
        model_.AddLine();
        model_.AppendToLine(i, std::to_string(i));
    }
    model_.DeleteFirstLines(2);
    EXPECT_EQ(model_.Line(0), "2");
    model_.DeleteFirstLines(0);
    model_.DeleteFirstLines(-3);
    EXPECT_EQ(model_.LineCount(), 3);
    model_.DeleteFirstLines(20);
    EXPECT_EQ(model_.LineCount(), 0);
    model_.DeleteFirstLines(20);
    EXPECT_EQ(removed_, (std::vector<int>{2, 3}));
}

TEST_F(LineModel, ChangesNameTheFirstLineTouched)
{
    model_.AddLine();
    model_.AddLine();
    model_.AppendToLine(0, "x");
    model_.AppendToLine(1, "");  // nothing changed, nothing to redraw
    model_.ShortenLine(1, 1);
    model_.AddLine();
    EXPECT_EQ(changed_, (std::vector<int>{0, 1, 0, 1, 2}));
    changed_.clear();
    model_.DeleteFirstLines(1);
    EXPECT_TRUE(changed_.empty());
}
