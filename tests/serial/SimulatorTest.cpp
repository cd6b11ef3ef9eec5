#include "tests/serial/PtyFixture.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Starts pbxsim and reads the slave path from its first line.
struct Simulator {
    pid_t Pid = -1;
    std::string Path;
    explicit Simulator(const std::string& args)
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        Pid = fork();
        if (Pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execl("/bin/sh", "sh", "-c", (std::string("exec ") + PBXSIM_PATH + " " + args).c_str(), nullptr);
            _exit(127);
        }
        close(out[1]);
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            Path.push_back(c);
        close(out[0]);
    }
    ~Simulator()
    {
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            waitpid(Pid, nullptr, 0);
        }
    }
};
}  // namespace

TEST_F(SerialTest, SimulatorAnswersAndSurvivesAReopen)
{
    const std::string link = "/tmp/morvel-pbxsim-test-" + std::to_string(getpid());
    Simulator sim("--period 0 --link " + link);
    ASSERT_FALSE(sim.Path.empty());
    Port->SetClusterSize(12);
    Port->SetCommPort(link);
    Port->SetActive(true);
    ASSERT_TRUE(Port->Active());
    Port->SendText("ver\r");
    ASSERT_TRUE(WaitUntil([&] { return Rec->Received().find("REV C\r\n>\n") != std::string::npos; }));
    EXPECT_EQ(Rec->Received().rfind("ver\r\nMORVEL MX-2000 MAINTENANCE PORT\r\nSW 4.12.07  BUILD 2003-11-18\n", 0), 0u);
    Port->SetActive(false);
    Rec->Clusters.clear();
    Port->SetActive(true);
    ASSERT_TRUE(Port->Active());
    Port->SendText("dis ext\r");
    ASSERT_TRUE(WaitUntil([&] { return Rec->Received().find("END OF TABLE\r\n") != std::string::npos; }));
    EXPECT_NE(Rec->Received().find("\xCB\xE8\xED\xE8\xFF"), std::string::npos);  // Cyrillic bytes unchanged
}

TEST_F(SerialTest, SimulatorFloodArrivesComplete)
{
    Simulator sim("--period 0 --flood 0 --flood-bytes 200000");
    ASSERT_FALSE(sim.Path.empty());
    Port->SetClusterSize(12);
    Port->SetCommPort(sim.Path);
    Port->SetActive(true);
    ASSERT_TRUE(WaitUntil([&] { return Rec->Received().size() >= 200000; }, 30000));
    const std::string all = Rec->Received();
    EXPECT_EQ(all.size(), 200000u);
    EXPECT_EQ(all.rfind("CDR 000001 ", 0), 0u);
}

namespace {

std::string FileBytes(const std::string& path)
{
    std::string bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char buf[65536];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, file)) > 0;)
            bytes.append(buf, n);
        std::fclose(file);
    }
    return bytes;
}

}  // namespace

TEST(Simulator, BackfillWritesPastDaysWithATimeForEveryLineAndLeavesThemAloneAfter)
{
    char folder[] = "/tmp/pbxsim-backfill-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string run = std::string(PBXSIM_PATH) + " --backfill 2 --day-bytes 1000000 --data-folder " + folder;
    ASSERT_EQ(std::system((run + " > /dev/null").c_str()), 0);  // NOLINT(concurrency-mt-unsafe)

    size_t days = 0, longLines = 0, cyrillic = 0;
    for (int back = 1; back <= 2; ++back) {
        const std::time_t t = std::time(nullptr) - back * 86400;
        std::tm day{};
        localtime_r(&t, &day);
        char name[96];
        std::snprintf(name, sizeof name, "%s/archive/%04d/%02d/%02d-%02d-%02d", folder, day.tm_year + 1900,
                      day.tm_mon + 1, day.tm_mday, day.tm_mon + 1, day.tm_year % 100);
        const std::string capture = FileBytes(std::string(name) + ".CAP");
        const std::string index = FileBytes(std::string(name) + ".TIM");
        if (capture.empty())
            continue;  // a daylight saving day may be an hour off; the other day counts
        ++days;
        EXPECT_GE(capture.size(), 1000000u);
        ASSERT_EQ(index.size() % 12, 0u);
        // Record by record: the offset of each line in turn, times ascending within the day.
        size_t at = 0;
        uint32_t last = 0;
        for (size_t r = 0; r < index.size(); r += 12) {
            uint64_t offset = 0;
            uint32_t ms = 0;
            for (int i = 0; i < 8; ++i)
                offset |= uint64_t(uint8_t(index[r + size_t(i)])) << (8 * i);
            for (int i = 0; i < 4; ++i)
                ms |= uint32_t(uint8_t(index[r + 8 + size_t(i)])) << (8 * i);
            ASSERT_EQ(offset, at) << "record " << r / 12;
            ASSERT_GE(ms, last);
            ASSERT_LT(ms, 86400000u);
            last = ms;
            const size_t end = capture.find("\r\n", at);
            ASSERT_NE(end, std::string::npos);
            longLines += end - at > 1024;
            cyrillic += capture.find('\xC0', at) < end;  // the capital A of "Авария"
            at = end + 2;
        }
        EXPECT_EQ(at, capture.size()) << "a record for every line";
        EXPECT_GT(last, 20u * 3600000) << "the lines spread over the day";
    }
    EXPECT_GE(days, 1u);
    EXPECT_GT(longLines, 0u);
    EXPECT_GT(cyrillic, 0u);

    std::FILE* out = popen((run + " 2>&1").c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string said;
    char buf[256];
    while (std::fgets(buf, sizeof buf, out))
        said += buf;
    EXPECT_EQ(pclose(out), 0);
    EXPECT_NE(said.find("0 days written"), std::string::npos) << said;
    EXPECT_EQ(std::system((std::string("rm -rf ") + folder).c_str()), 0);  // NOLINT(concurrency-mt-unsafe)
}
