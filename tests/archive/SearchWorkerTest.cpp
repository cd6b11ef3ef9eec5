#include "archive/SearchWorker.h"
#include "tests/archive/ArchiveTestSupport.h"

namespace {

class SearchWorker : public DataFolderTest {};

TEST_F(SearchWorker, HandsOverEveryMatchInOrderAndEndsAtItsLimit)
{
    std::string day;
    for (int i = 0; i < 10; ++i)
        day += "match " + std::to_string(i) + "\r\n" + std::string(3000, 'y') + "\r\n";
    WriteFile("archive/2026/03/05-03-26.CAP", day);
    WriteFile("archive/2026/03/06-03-26.CAP", "match late\r\n");
    const std::string root = QDir::current().absoluteFilePath("archive").toStdString();
    const TArchiveQuery query{QDate(2026, 3, 1), QDate(2026, 3, 31), QStringLiteral("match"), false, false};

    TSearchWorker worker;
    std::vector<TSearchHit> hits;
    const auto takeAll = [&] {
        return WaitFor([&] {
            const bool finished = worker.Finished();
            std::vector<TSearchHit> taken = worker.Take(4);
            hits.insert(hits.end(), taken.begin(), taken.end());
            return finished && taken.size() < 4;
        });
    };
    worker.Start(root, query);
    ASSERT_TRUE(takeAll());
    ASSERT_EQ(hits.size(), 11u);
    EXPECT_FALSE(worker.Limited());
    EXPECT_EQ(hits[3].Line, "match 3");
    EXPECT_EQ(hits[3].Offset, 3u * (9 + 3002));
    EXPECT_EQ(hits[10].Day, QDate(2026, 3, 6));

    hits.clear();
    worker.Start(root, query, 3);
    ASSERT_TRUE(takeAll());
    EXPECT_EQ(hits.size(), 3u);
    EXPECT_TRUE(worker.Limited());

    // A long line is cut for the list; its offset still names it whole.
    hits.clear();
    worker.Start(root, {QDate(2026, 3, 5), QDate(2026, 3, 5), QStringLiteral("yyy"), false, false}, 1);
    ASSERT_TRUE(takeAll());
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].Line.size(), TSearchWorker::kLineShown);
    EXPECT_EQ(hits[0].Offset, 9u);
}

}  // namespace
