// The simulator against real pseudo-terminals: the tests open its slave the
// way the program does and check what crosses the line, byte for byte.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/devsim/devsim.h"

using namespace std::chrono_literals;

namespace {

// Waits only guard against a hang; no test depends on how long anything takes.
constexpr int kGuardMs = 10000;

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    void reset()
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

int OpenLine(const std::string& path)
{
    int fd;
    do {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reads until count bytes have come, the line ends, or nothing comes for the guard time.
std::string ReadBytes(int fd, std::size_t count)
{
    std::string out;
    while (out.size() < count) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, kGuardMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - out.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/devsim-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return {};
    return pattern;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

TEST(DeviceSimulator, EchoesEveryByteUnchanged)
{
    devsim::Options options;
    options.echo = true;
    options.keepReceived = true;
    devsim::DeviceSimulator sim;
    std::string error;
    ASSERT_TRUE(sim.start(options, &error)) << error;
    Fd line(OpenLine(sim.slavePath()));
    ASSERT_GE(line.get(), 0);

    // Bytes a cooked line would change or act on: CR, LF, NUL, ^C, ^D, DEL, 0xFF.
    const std::string bytes("A\r\n\x00\x03\x04\x7f\xff\xb4\xf2" "end", 13);
    ASSERT_TRUE(WriteAll(line.get(), bytes));
    EXPECT_EQ(ReadBytes(line.get(), bytes.size()), bytes);
    ASSERT_TRUE(sim.waitFor([&](const devsim::Status& s) { return s.received >= bytes.size(); },
                            std::chrono::milliseconds(kGuardMs)));
    EXPECT_EQ(sim.received(), bytes.size());
    EXPECT_EQ(sim.receivedBytes(), bytes);
}

TEST(DeviceSimulator, FloodArrivesWholeAndInOrder)
{
    for (const devsim::Payload kind : {devsim::Payload::Pattern, devsim::Payload::Random, devsim::Payload::Text}) {
        SCOPED_TRACE(static_cast<int>(kind));
        constexpr std::size_t kCount = 100000;  // several times what the pty holds
        devsim::Options options;
        options.floodBytes = kCount;
        options.payload = kind;
        options.seed = 7;
        devsim::DeviceSimulator sim;
        std::string error;
        ASSERT_TRUE(sim.start(options, &error)) << error;
        EXPECT_FALSE(sim.status().started);  // waits for the slave to be opened
        Fd line(OpenLine(sim.slavePath()));
        ASSERT_GE(line.get(), 0);
        const std::string got = ReadBytes(line.get(), kCount);
        ASSERT_EQ(got.size(), kCount);
        EXPECT_TRUE(got == devsim::PayloadSource(kind, 7).next(kCount));
        EXPECT_TRUE(sim.waitFor([](const devsim::Status& s) { return s.trafficDone; },
                                std::chrono::milliseconds(kGuardMs)));
        EXPECT_EQ(sim.status().sent, kCount);
        EXPECT_EQ(sim.status().opens, 1u);
    }
}

TEST(DeviceSimulator, StreamAtARateThenStops)
{
    struct Case {
        const char* name;
        std::uint64_t bytes;
        std::uint64_t rate;
    };
    // The second outruns the pty's buffer long before the reader comes, so
    // it must wait for room and go on when the reader drains the line.
    for (const Case& c : {Case{"paced", 1000, 50000}, Case{"outruns_the_pty", 60000, 1000000000}}) {
        SCOPED_TRACE(c.name);
        devsim::Options options;
        options.streamBytes = c.bytes;
        options.rateBytesPerSecond = c.rate;
        options.payload = devsim::Payload::Text;
        options.startOn = devsim::StartOn::Now;
        devsim::DeviceSimulator sim;
        std::string error;
        ASSERT_TRUE(sim.start(options, &error)) << error;
        Fd line(OpenLine(sim.slavePath()));
        ASSERT_GE(line.get(), 0);
        const std::string got = ReadBytes(line.get(), c.bytes);
        EXPECT_TRUE(got == devsim::PayloadSource(devsim::Payload::Text, 1).next(c.bytes)) << got.size();
        ASSERT_TRUE(sim.waitFor([](const devsim::Status& s) { return s.trafficDone; },
                                std::chrono::milliseconds(kGuardMs)));
        EXPECT_EQ(sim.status().sent, c.bytes);
    }
}

TEST(DeviceSimulator, StartsOnTheFirstReceivedByte)
{
    devsim::Options options;
    options.periodMs = 5;
    options.line = "tick {n}";
    options.startOn = devsim::StartOn::FirstByte;
    devsim::DeviceSimulator sim;
    std::string error;
    ASSERT_TRUE(sim.start(options, &error)) << error;
    Fd line(OpenLine(sim.slavePath()));
    ASSERT_GE(line.get(), 0);
    ASSERT_TRUE(sim.waitFor([](const devsim::Status& s) { return s.opens == 1; },
                            std::chrono::milliseconds(kGuardMs)));
    EXPECT_FALSE(sim.status().started);
    EXPECT_EQ(sim.status().sent, 0u);
    ASSERT_TRUE(WriteAll(line.get(), "?"));
    EXPECT_EQ(ReadBytes(line.get(), 27), "tick 1\r\ntick 2\r\ntick 3\r\ntic");
}

TEST(DeviceSimulator, HangUpIsSeenAsAnUnpluggedLine)
{
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    for (const bool byTimer : {false, true}) {
        SCOPED_TRACE(byTimer ? "timer" : "command");
        devsim::Options options;
        options.linkPath = dir + "/ttyUSB0";
        if (byTimer)
            options.hangUpAfterMs = 0;  // as soon as the line is opened
        devsim::DeviceSimulator sim;
        std::string error;
        ASSERT_TRUE(sim.start(options, &error)) << error;
        Fd line(OpenLine(options.linkPath));
        ASSERT_GE(line.get(), 0);
        if (!byTimer)
            sim.hangUp();
        ASSERT_TRUE(sim.waitFor([](const devsim::Status& s) { return s.hungUp; },
                                std::chrono::milliseconds(kGuardMs)));

        pollfd p{line.get(), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, kGuardMs), 1);
        EXPECT_TRUE(p.revents & POLLHUP);
        char byte;
        const ssize_t n = read(line.get(), &byte, 1);
        EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
        errno = 0;
        EXPECT_EQ(write(line.get(), "x", 1), -1);
        EXPECT_EQ(errno, EIO);
        EXPECT_FALSE(Exists(options.linkPath));  // the adapter's name goes with it
        EXPECT_TRUE(sim.status().error.empty()) << sim.status().error;
    }
    rmdir(dir.c_str());
}

TEST(DeviceSimulator, LinkIsMadeReplacedAndRemoved)
{
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    const std::string link = dir + "/com1";
    ASSERT_EQ(symlink("/nonexistent-stale-target", link.c_str()), 0);  // left by a crashed run

    devsim::Options options;
    options.linkPath = link;
    options.echo = true;
    {
        devsim::DeviceSimulator sim;
        std::string error;
        ASSERT_TRUE(sim.start(options, &error)) << error;
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), sim.slavePath());
        Fd line(OpenLine(link));
        ASSERT_GE(line.get(), 0);
        ASSERT_TRUE(WriteAll(line.get(), "ok"));
        EXPECT_EQ(ReadBytes(line.get(), 2), "ok");
    }  // the destructor stops the simulator
    EXPECT_FALSE(Exists(link));

    // A file that is not a link is never replaced.
    FILE* file = std::fopen(link.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    devsim::DeviceSimulator sim;
    std::string error;
    EXPECT_FALSE(sim.start(options, &error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    EXPECT_TRUE(Exists(link));
    unlink(link.c_str());
    rmdir(dir.c_str());
}

TEST(DeviceSimulator, RefusesContradictoryOptions)
{
    devsim::DeviceSimulator sim;
    std::string error;
    devsim::Options both;
    both.streamBytes = 10;
    both.rateBytesPerSecond = 10;
    both.floodBytes = 10;
    EXPECT_FALSE(sim.start(both, &error));
    devsim::Options noRate;
    noRate.streamBytes = 10;
    EXPECT_FALSE(sim.start(noRate, &error));
    EXPECT_TRUE(sim.slavePath().empty());
}

TEST(Payload, PiecesJoinToTheWholeAndLinesAreReadable)
{
    for (const devsim::Payload kind : {devsim::Payload::Pattern, devsim::Payload::Random, devsim::Payload::Text}) {
        SCOPED_TRACE(static_cast<int>(kind));
        devsim::PayloadSource pieces(kind, 3);
        std::string joined;
        for (std::size_t n : {1, 15, 16, 100, 0, 4096, 7})
            joined += pieces.next(n);
        EXPECT_TRUE(joined == devsim::PayloadSource(kind, 3).next(joined.size()));
    }
    EXPECT_EQ(devsim::PayloadSource(devsim::Payload::Pattern, 0).next(258).substr(254),
              std::string("\xfe\xff\x00\x01", 4));
    EXPECT_EQ(devsim::PayloadSource(devsim::Payload::Text, 0).next(60),
              "line 1 the quick brown fox jumps over the lazy dog\r\nline 2 t");
    EXPECT_NE(devsim::PayloadSource(devsim::Payload::Random, 1).next(64),
              devsim::PayloadSource(devsim::Payload::Random, 2).next(64));
    EXPECT_EQ(devsim::expandLine("tick {n} of {n}", 12), "tick 12 of 12\r\n");
}

TEST(Payload, ChineseLineIsCodePage936)
{
    iconv_t cd = iconv_open("UTF-8", "GBK");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string in = devsim::kGbkTemperatureLine;
    char out[64] = {};
    char* inPtr = in.data();
    char* outPtr = out;
    size_t inLeft = in.size(), outLeft = sizeof out - 1;
    EXPECT_NE(iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<size_t>(-1));
    iconv_close(cd);
    EXPECT_EQ(std::string(out), "温度 25.0 度");
    EXPECT_EQ(in.size(), 12u);  // two bytes per character, not UTF-8's three
}

// The program, as an end-to-end test or a person runs it.
TEST(DevsimProgram, EchoesReportsAndCleansUpOnStdinClose)
{
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    const std::string link = dir + "/com2";
    int toChild[2], fromChild[2];
    ASSERT_EQ(pipe2(toChild, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(fromChild, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    std::string program = DEVSIM_PROGRAM;
    std::vector<std::string> args = {program, "--link", link, "--echo", "--stdin", "--report",
                                     "--report-hex", "-", "--exit-after", "60"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    Fd toDevsim(toChild[1]);
    Fd fromDevsim(fromChild[0]);

    std::string output = ReadBytes(fromDevsim.get(), 1);
    while (output.back() != '\n') {
        const std::string more = ReadBytes(fromDevsim.get(), 1);
        ASSERT_FALSE(more.empty());
        output += more;
    }
    output.pop_back();
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(output, target);  // the first line names the slave

    Fd line(OpenLine(link));
    ASSERT_GE(line.get(), 0);
    ASSERT_TRUE(WriteAll(line.get(), "\x01\xAB"));
    EXPECT_EQ(ReadBytes(line.get(), 2), "\x01\xAB");
    ASSERT_TRUE(WriteAll(toDevsim.get(), "send 41 42\n"));
    EXPECT_EQ(ReadBytes(line.get(), 2), "AB");

    toDevsim.reset();  // closing stdin stops the program
    std::string rest;
    for (std::string piece; !(piece = ReadBytes(fromDevsim.get(), 4096)).empty();)
        rest += piece;
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(rest, "received 2\n01 AB\n");
    EXPECT_FALSE(Exists(link));
    rmdir(dir.c_str());
}

} // namespace
