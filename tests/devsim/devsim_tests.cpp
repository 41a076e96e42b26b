// The simulator against real pseudo-terminals: the tests open its slave the
// way the program does and check what crosses the line, byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/unique_fd.h"
#include "tests/platform/pty.h"
#include "tools/devsim/devsim.h"

namespace {

using Fd = platform::UniqueFd;

int OpenLine(const std::string& path)
{
    return open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

// Floods, and starting on the first received byte, are the engine stress
// tests' and the end-to-end tests' device; here the paced modes the run
// script and the receive bench use.
TEST(DeviceSimulator, PacedLinesAndStreamsArriveWholeAndInOrder)
{
    const devsim::Options lines{.line = "tick {n}", .periodMs = 5};
    const devsim::Options stream{.streamBytes = 1000, .rateBytesPerSecond = 50000};
    // Outruns the pty's buffer long before the reader comes, so it must wait
    // for room and go on when the reader drains the line.
    const devsim::Options outrun{.streamBytes = 60000, .rateBytesPerSecond = 1000000000};
    const std::string text = devsim::PayloadSource(devsim::Payload::Text, 1).next(60000);
    const struct {
        const devsim::Options& options;
        std::string expected;
    } cases[] = {{lines, "tick 1\r\ntick 2\r\ntick 3\r\ntic"}, {stream, text.substr(0, 1000)}, {outrun, text}};
    for (const auto& c : cases) {
        devsim::DeviceSimulator sim;
        std::string error;
        ASSERT_TRUE(sim.start(c.options, &error)) << error;
        Fd line(OpenLine(sim.slavePath()));
        ASSERT_GE(line.get(), 0);
        EXPECT_TRUE(ReadFrom(line.get(), c.expected.size()) == c.expected) << c.expected.size();
    }
}

// The program, as an end-to-end test or a person runs it, on pipes, with a
// folder of its own under $TMPDIR for links.
class DevsimProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / "devsim-test-XXXXXX";
        ASSERT_NE(mkdtemp(m_dir.data()), nullptr);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    void Start(std::vector<std::string> args)
    {
        int toChild[2], fromChild[2];
        ASSERT_EQ(pipe2(toChild, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(fromChild, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        args.insert(args.begin(), DEVSIM_PROGRAM);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(toChild[0]);
        close(fromChild[1]);
        m_in.reset(toChild[1]);
        m_out.reset(fromChild[0]);
    }

    // Everything it writes until it exits, and its exit status.
    std::string Finish(int* status)
    {
        m_in.reset();  // closing stdin stops the program
        std::string rest;
        for (std::string piece; !(piece = ReadFrom(m_out.get(), 4096)).empty();)
            rest += piece;
        EXPECT_EQ(waitpid(m_pid, status, 0), m_pid);
        return rest;
    }

    std::string m_dir;
    pid_t m_pid = -1;
    Fd m_in, m_out;
};

bool Exists(const std::string& path)
{
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

TEST_F(DevsimProgram, EchoesReportsAndCleansUpOnStdinClose)
{
    const std::string link = m_dir + "/com2";
    ASSERT_EQ(symlink("/nonexistent-stale-target", link.c_str()), 0);  // left by a crashed run
    ASSERT_NO_FATAL_FAILURE(
        Start({"--link", link, "--echo", "--stdin", "--report", "--report-hex", "-", "--exit-after", "60"}));
    // The first line names the slave, once the link to it is there.
    const std::string first = ReadFrom(m_out.get(), 1);
    const std::string slave = std::filesystem::read_symlink(link).string();
    ASSERT_EQ(first + ReadFrom(m_out.get(), slave.size()), slave + "\n");

    Fd line(OpenLine(link));
    ASSERT_GE(line.get(), 0);
    // Bytes a cooked line would change or act on: CR, LF, NUL, ^C, ^D, DEL, 0xFF.
    const std::string bytes("\r\n\x00\x03\x04\x7f\xff\xab", 8);
    ASSERT_TRUE(WriteAll(line.get(), bytes));
    EXPECT_EQ(ReadFrom(line.get(), bytes.size()), bytes);
    ASSERT_TRUE(WriteAll(m_in.get(), "send 41 42\ntext C\nsend 4\n"));
    EXPECT_EQ(ReadFrom(line.get(), 3), "ABC");
    // Both counts; the sent one is published just after the write that the
    // line has already shown, so it is asked for again until it catches up.
    std::string counts;
    for (int asked = 0; asked < 1000 && counts != "received 8 sent 11\n"; ++asked) {
        ASSERT_TRUE(WriteAll(m_in.get(), "counts\n"));
        counts.clear();
        for (std::string c; counts.empty() || counts.back() != '\n'; counts += c)
            ASSERT_FALSE((c = ReadFrom(m_out.get(), 1)).empty()) << counts;
    }
    EXPECT_EQ(counts, "received 8 sent 11\n");

    int status = -1;
    EXPECT_EQ(Finish(&status), "received 8\n0D 0A 00 03 04 7F FF AB\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(Exists(link));
}

TEST_F(DevsimProgram, RefusesOptionsItCannotUse)
{
    // Status 2 for options it does not take, 1 for options the simulator
    // refuses; a file where the link should go is never replaced.
    const std::string file = m_dir + "/file";
    std::fclose(std::fopen(file.c_str(), "w"));
    const struct { std::vector<std::string> args; int status; } cases[] = {
        {{"--period", "0"}, 2}, {{"--stream", "-1"}, 2}, {{"--payload", "words"}, 2}, {{"stray"}, 2},
        {{"--stream", "10"}, 1}, {{"--stream", "10", "--rate", "5", "--flood", "10"}, 1}, {{"--link", file}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + std::to_string(c.args.size()));
        std::vector<std::string> args = c.args;
        args.push_back("--stdin");  // so that a program that took them ends too
        ASSERT_NO_FATAL_FAILURE(Start(args));
        int status = -1;
        Finish(&status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status) << status;
    }
    EXPECT_TRUE(Exists(file));
}

} // namespace
