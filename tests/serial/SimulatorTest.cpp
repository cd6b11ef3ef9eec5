#include "tests/serial/PtyFixture.h"

#include <csignal>
#include <cstdio>
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
