#include "core/InstanceBeacon.h"
#include "tests/net/NetTestUtil.h"

#include <QCoreApplication>
#include <future>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

std::string UniqueName(const char* what)
{
    return std::string("morvel-test-") + what + "-" + std::to_string(::getpid());
}

}  // namespace

TEST(InstanceBeacon, ASecondStartKnocksAndTheRunningCopyAnswers)
{
    const std::string name = UniqueName("knock");
    int knocks = 0;
    TInstanceBeacon running(name, [&] { ++knocks; });
    ASSERT_TRUE(running.Listening());
    // The knock waits for the answer, which the running copy gives from its event loop.
    auto second = std::async(std::launch::async, [&] { return KnockOnRunningInstance(name); });
    ASSERT_TRUE(WaitFor([&] { return knocks == 1; }));
    EXPECT_TRUE(second.get());

    TInstanceBeacon another(name, [] {});
    EXPECT_FALSE(another.Listening()) << "one copy holds the name";
}

TEST(InstanceBeacon, NobodyAnswersWhenNoCopyRuns)
{
    EXPECT_FALSE(KnockOnRunningInstance(UniqueName("nobody")));
    EXPECT_NE(InstanceBeaconName(), "morvel-pbx-") << "named for the user";
}
