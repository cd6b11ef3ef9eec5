#include "serial/MainThreadCall.h"

#include "serial/SerialDevicePosix.h"

#include "tests/serial/PtyFixture.h"

#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

TEST(MainThreadCall, ProceduresRunOnTheMainThreadInOrderWhileTheWorkerWaits)
{
    MainThreadCall handOff;
    std::vector<int> ran;
    std::atomic<int> returned{0};
    bool allOnMain = true;
    QThread* main = QThread::currentThread();
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i) {
            handOff.Call([&, i] {
                allOnMain = allOnMain && QThread::currentThread() == main;
                // The worker is still blocked in the call that brought this one.
                EXPECT_EQ(returned.load(), i);
                ran.push_back(i);
            });
            ++returned;
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return returned == 20; }));
    worker.join();
    EXPECT_TRUE(allOnMain);
    ASSERT_EQ(ran.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(ran[size_t(i)], i);
}

TEST(MainThreadCall, APostReturnsAtOnceAndIsFinishedByFinishOrByTheNextPost)
{
    MainThreadCall handOff;
    std::atomic<bool> postReturned{false}, done{false};
    std::atomic<int> ran{0};
    bool workerWentOn = false;
    int afterSecondPost = -1, afterFinish = -1;
    std::thread worker([&] {
        handOff.Post([&] {
            QElapsedTimer waited;
            waited.start();
            while (!postReturned && waited.elapsed() < 5000)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            workerWentOn = postReturned;
            ++ran;
        });
        postReturned = true;
        handOff.Post([&] { ++ran; });
        afterSecondPost = ran;
        handOff.Finish();
        afterFinish = ran;
        handOff.Finish();  // nothing posted: returns at once
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(workerWentOn);
    EXPECT_GE(afterSecondPost, 1);
    EXPECT_EQ(afterFinish, 2);
}

TEST(MainThreadCall, WhileReleasedTheWorkerGoesOnAndTheProceduresRunLater)
{
    MainThreadCall handOff;
    handOff.SetReleased(true);
    std::vector<int> ran;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            handOff.Call([&ran, i] { ran.push_back(i); });
    });
    worker.join();  // nobody served it: the calls returned at once
    EXPECT_TRUE(ran.empty());
    handOff.SetReleased(false);
    ASSERT_TRUE(WaitUntil([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
}

TEST(MainThreadCall, AThrowingProcedureGoesToTheSinkAndTheNextOneRuns)
{
    MainThreadCall handOff;
    std::vector<std::string> errors;
    handOff.SetErrorSink([&](const std::string& text) { errors.push_back(text); });
    bool secondRan = false;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        handOff.Call([] { throw std::runtime_error("first failed"); });
        handOff.Call([] { throw 42; });
        handOff.Call([&] { secondRan = true; });
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(secondRan);
    EXPECT_EQ(errors, (std::vector<std::string>{"first failed", "Unknown error"}));
}

TEST(MainThreadCall, WithoutASinkTheErrorGoesToStandardError)
{
    MainThreadCall handOff;
    std::atomic<bool> done{false};
    testing::internal::CaptureStderr();
    std::thread worker([&] {
        handOff.Call([] { throw std::runtime_error("nobody listens"); });
        done = true;
    });
    const bool returned = WaitUntil([&] { return done.load(); });
    worker.join();
    const std::string printed = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(returned);
    EXPECT_NE(printed.find("nobody listens"), std::string::npos) << printed;
}

class MainThreadCallWithoutWakeHandle : public ::testing::Test {
protected:
    void SetUp() override
    {
        SerialDevice::MakeEventFd = [] {
            errno = EMFILE;
            return -1;
        };
    }
    void TearDown() override { SerialDevice::MakeEventFd = nullptr; }
};

TEST_F(MainThreadCallWithoutWakeHandle, SaysWhyAndStillRunsEveryProcedureInOrder)
{
    MainThreadCall handOff;
    EXPECT_EQ(handOff.EventError(), EMFILE);
    std::vector<int> ran;
    std::atomic<int> returned{0};
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i) {
            handOff.Call([&ran, i] { ran.push_back(i); });
            ++returned;
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return returned == 20; }));
    worker.join();
    ASSERT_EQ(ran.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(ran[size_t(i)], i);
}
