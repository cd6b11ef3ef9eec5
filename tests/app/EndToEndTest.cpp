// The PBX simulator on a pseudo-terminal, the main window on its slave side:
// what the simulator sent ends up in the display and the capture file.
#include "app/TerminalMemo.h"
#include "core/LineModel.h"
#include "core/SettingWords.h"
#include "serial/SerialNG.h"
#include "tests/app/FormFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

namespace {

// The completed lines the receive path makes of a byte stream, and the open last line.
std::pair<std::vector<std::string>, std::string> Lines(const std::string& bytes)
{
    std::vector<std::string> lines;
    std::string line;
    for (char c : bytes) {
        if (c == '\0' || c == '\r' || c == '\b')
            continue;
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(c);
        }
    }
    return {lines, line};
}

}  // namespace

class EndToEnd : public FormFixture {
protected:
    void TearDown() override
    {
        form_.reset();
        sim_.terminate();
        sim_.waitForFinished(10000);
        FormFixture::TearDown();
    }

    std::string StartSimulator(const QStringList& args)
    {
        sim_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim_.start(QStringLiteral(PBXSIM_PATH), args);
        if (!sim_.waitForStarted() || !sim_.waitForReadyRead(10000))
            return {};
        return sim_.readLine().trimmed().toStdString();
    }

    // Runs the event loop until the capture file has held what the transcript
    // says for half a second (the simulator may answer in several writes), or
    // the time-out passes.
    bool WaitUntilCaptured(const QString& transcript, int timeoutMs = 60000)
    {
        QElapsedTimer timer, settled;
        timer.start();
        bool matching = false;
        while (timer.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            std::string expected;
            for (const auto& line : Lines(ReadFile(transcript)).first)
                expected += line + "\r\n";
            const bool now = !expected.empty() && ReadFile("archive/2026/12/07-12-26.CAP") == expected;
            if (now && !matching)
                settled.start();
            matching = now;
            if (matching && settled.elapsed() >= 500)
                return true;
        }
        return false;
    }

    QProcess sim_;
};

TEST_F(EndToEnd, TheDisplayAndTheCaptureFileHoldExactlyTheSimulatorsLines)
{
    const QString transcript = dir_.filePath("sent.bin");
    const std::string slave =
        StartSimulator({"--period", "0", "--flood", "0", "--flood-bytes", "100000", "--transcript", transcript});
    ASSERT_FALSE(slave.empty());
    WriteFile("Setings.ini", EncodeSettingWords(TSettingWords{}));  // port 0, the simulator's
    TForm1Options options;
    options.ExtraPorts = {slave};
    Create(options);
    ASSERT_TRUE(Port().Active());
    ASSERT_TRUE(WaitUntilCaptured(transcript)) << "the flood did not arrive";

    for (const char* command : {"ver\r", "dis ext\r", "help\r", "dis alm\r"}) {
        TypeInDisplay(command);
        ASSERT_TRUE(WaitUntilCaptured(transcript)) << command;
    }
    for (const char* answer : {"SW 4.12.07", "END OF TABLE", "DIS ALM   active alarms"})
        EXPECT_NE(ReadFile(transcript).find(answer), std::string::npos) << "no answer with " << answer;

    const auto [lines, open] = Lines(ReadFile(transcript));
    EXPECT_GT(lines.size(), 1000u);
    const TTerminalMemo& memo = *Memo();
    ASSERT_EQ(memo.Model().LineCount(), int(lines.size()) + 1);
    for (size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(memo.Model().Line(int(i)), lines[i]) << "line " << i;
    EXPECT_EQ(memo.Model().Line(int(lines.size())), open);
}

TEST_F(EndToEnd, AnAlarmLineFromTheSimulatorMatchesARuleAndIsCounted)
{
    const std::string slave = StartSimulator({"--period", "0"});
    ASSERT_FALSE(slave.empty());
    WriteFile("Setings.ini", EncodeSettingWords(TSettingWords{}));
    WriteFile("Watch.txt", "# critical alarms\ncritical .* power\n");
    std::vector<std::string> events;
    TForm1Options options;
    options.ExtraPorts = {slave};
    options.OnEvent = [&](const std::string& kind, const std::string& detail) {
        if (kind.starts_with("alarm"))  // the alarm watch's own
            events.push_back(kind + " " + detail);
    };
    Create(options);
    ASSERT_TRUE(Port().Active());

    TypeInDisplay("alarm\r");
    WaitFor([&] { return Status(9) == "Alarms 1"; }, 60000);
    EXPECT_EQ(Status(9), "Alarms 1") << Memo()->Text();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].rfind("alarm 2 ALM ", 0), 0u) << events[0];
    EXPECT_NE(events[0].find("CRITICAL SHELF A POWER SUPPLY FAILURE"), std::string::npos) << events[0];
    const std::string log = ReadFile("archive/2026/12/07-12-26.LOG");
    EXPECT_NE(log.find("\tsent\tkey alarm\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\talarm\t2 ALM "), std::string::npos) << log;
}
