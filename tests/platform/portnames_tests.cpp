// Which device COMn opens (the variable, the ports file, /dev/ttyS{n-1}), and
// the line on standard error when a device cannot be opened.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/portnames.h"
#include "platform/winbase.h"
#include "pty.h"

namespace {

using namespace std::string_literals;

std::string TempRoot()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// Standard error, taken into a file while the object lives.
class StderrCapture {
public:
    StderrCapture()
    {
        std::string pattern = TempRoot() + "/tavrin-stderr-XXXXXX";
        m_file = mkstemp(pattern.data());
        EXPECT_GE(m_file, 0) << pattern;
        unlink(pattern.c_str());
        m_saved = dup(STDERR_FILENO);
        dup2(m_file, STDERR_FILENO);
    }
    ~StderrCapture()
    {
        Restore();
        close(m_file);
    }
    // What was written since the last Take.
    std::string Take()
    {
        std::string text;
        char chunk[4096];
        ssize_t got;
        while ((got = pread(m_file, chunk, sizeof chunk, m_read)) > 0) {
            text.append(chunk, static_cast<size_t>(got));
            m_read += got;
        }
        return text;
    }

private:
    void Restore()
    {
        if (m_saved >= 0)
            dup2(m_saved, STDERR_FILENO);
        close(m_saved);
        m_saved = -1;
    }
    int m_file = -1;
    int m_saved = -1;
    off_t m_read = 0;
};

size_t Lines(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::string Reason(int error)
{
    return std::strerror(error);
}

// Each test has a configuration folder of its own as $XDG_CONFIG_HOME.
class PortNames : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = TempRoot() + "/tavrin-config-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
        for (int n : {2, 7, 8, 200})
            unsetenv(("TAVRIN_COM" + std::to_string(n)).c_str());
    }
    void TearDown() override
    {
        unsetenv("XDG_CONFIG_HOME");
        for (int n : {2, 7, 8, 200})
            unsetenv(("TAVRIN_COM" + std::to_string(n)).c_str());
        std::filesystem::remove_all(m_dir);
    }

    std::string PortsFile() const { return m_dir + "/tavrin/ports.conf"; }
    void WritePorts(const std::string& text) const
    {
        std::filesystem::create_directories(m_dir + "/tavrin");
        std::ofstream(PortsFile(), std::ios::binary | std::ios::trunc) << text;
    }

    std::string m_dir;
};

// A byte written to the port arrives at this line's far end.
void ExpectReaches(HANDLE port, const PtyLine& line)
{
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD done = 0;
    const BOOL written = WriteFile(port, "x", 1, &done, &ov)
        || (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(port, &ov, &done, TRUE));
    CloseHandle(ov.hEvent);
    ASSERT_TRUE(written && done == 1);
    EXPECT_EQ(line.Receive(1), "x");
}

TEST_F(PortNames, PortsFileLines)
{
    struct Row {
        const char* name;
        std::optional<std::string> file; // none: there is no file
        const char* device;
        std::vector<int> reported; // the lines said to be wrong
    };
    const Row rows[] = {
        {"no file", std::nullopt, "/dev/ttyS1", {}},
        {"the port named", "COM2=/dev/ttyUSB0\n", "/dev/ttyUSB0", {}},
        {"only another port named", "COM1=/dev/ttyUSB0\nCOM3=/dev/ttyUSB1\n", "/dev/ttyS1", {}},
        {"comments, blank lines and blanks",
         "# adapters\n\n  COM2 =  /dev/serial/by-id/usb-FTDI_X-if00-port0  # the grey one\n\t\n# COM2=/dev/no\n",
         "/dev/serial/by-id/usb-FTDI_X-if00-port0", {}},
        {"CR LF, lower case, no last line feed", "com2=/dev/ttyACM0\r\n#", "/dev/ttyACM0", {}},
        {"malformed lines are skipped",
         "COM2 /dev/ttyUSB0\nCOM0=/dev/a\nCOM256=/dev/b\nLPT1=/dev/c\nCOM2=dev/ttyUSB0\nCOM2=\n"
         "COM02=/dev/d\n=/dev/e\nCOM2=/dev/ttyUSB2\nCOM2=/dev/ttyUSB3\n",
         "/dev/ttyUSB2", {1, 2, 3, 4, 5, 6, 7, 8, 10}},
        {"a NUL byte", "COM2=/dev/tty\0USB0\n"s, "/dev/ttyS1", {1}},
    };
    int i = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A folder per row: what one row's file said must not hide another's.
        const std::string dir = m_dir + "/" + std::to_string(i++);
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        const std::string file = dir + "/tavrin/ports.conf";
        if (row.file) {
            std::filesystem::create_directories(dir + "/tavrin");
            std::ofstream(file, std::ios::binary) << *row.file;
        }
        StderrCapture err;
        EXPECT_EQ(platform::DevicePathOf(2), row.device);
        const std::string said = err.Take();
        EXPECT_EQ(Lines(said), row.reported.size()) << said;
        for (int line : row.reported)
            EXPECT_NE(said.find(file + ":" + std::to_string(line) + ": "), std::string::npos) << line << "\n" << said;
    }
}

TEST_F(PortNames, WhereThePortsFileIs)
{
    WritePorts("COM2=/dev/ttyUSB0\n");
    const std::string home = getenv("HOME") ? getenv("HOME") : "";
    // Without XDG_CONFIG_HOME, or with one that is not absolute, the file is
    // under the home folder.
    setenv("HOME", (m_dir + "/home").c_str(), 1);
    std::filesystem::create_directories(m_dir + "/home/.config");
    std::filesystem::rename(m_dir + "/tavrin", m_dir + "/home/.config/tavrin");
    for (const char* config : {static_cast<const char*>(nullptr), "", "relative/config"}) {
        SCOPED_TRACE(config ? config : "unset");
        config ? setenv("XDG_CONFIG_HOME", config, 1) : unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(platform::DevicePathOf(2), "/dev/ttyUSB0");
    }
    setenv("HOME", home.c_str(), 1);
}

TEST_F(PortNames, AProblemIsSaidOnceWhileItLasts)
{
    struct Step {
        const char* file; // nullptr: a folder in the file's place
        size_t said;
    };
    const Step steps[] = {
        {"COM2 /dev/ttyUSB0\n", 1},
        {"COM2 /dev/ttyUSB0\n", 0},                    // unchanged: said before
        {"COM2=/dev/ttyUSB0\nCOM3 /dev/ttyUSB1\n", 1}, // another problem
        {"COM2=/dev/ttyUSB0\n", 0},
        {"COM2 /dev/ttyUSB0\n", 1}, // fixed, then back: said again
        {nullptr, 1},
        {nullptr, 0},
    };
    int i = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(i++);
        if (step.file) {
            WritePorts(step.file);
        } else {
            std::filesystem::remove_all(PortsFile());
            std::filesystem::create_directories(PortsFile());
        }
        StderrCapture err;
        platform::DevicePathOf(2);
        const std::string said = err.Take();
        EXPECT_EQ(Lines(said), step.said) << said;
    }
}

TEST_F(PortNames, ThePortsFileNamesARealDevice)
{
    PtyLine first;
    PtyLine second;
    WritePorts("COM7=" + first.slavePath() + "\n");
    HANDLE port = OpenCom(7);
    ExpectReaches(port, first);
    CloseHandle(port);

    // The file is read at each opening: an adapter renamed since is found.
    WritePorts("# moved\nCOM7 = " + second.slavePath() + "\n");
    port = OpenCom(7);
    ExpectReaches(port, second);
    CloseHandle(port);

    // The variable comes first.
    first.NameAs(7);
    port = OpenCom(7);
    ExpectReaches(port, first);
    CloseHandle(port);
}

// Opens COMn, as an ordinary user when asked (the tests run as root, whom no
// permission stops), and returns what went to standard error.
std::string SaidOpening(int number, bool unprivileged)
{
    StderrCapture err;
    if (!unprivileged) {
        HANDLE port = OpenCom(number);
        EXPECT_EQ(port, INVALID_HANDLE_VALUE);
        return err.Take();
    }
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        _exit(OpenCom(number) == INVALID_HANDLE_VALUE ? 0 : 1);
    }
    int status = -1;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "1: the device opened; 2: could not give up root";
    return err.Take();
}

TEST_F(PortNames, WhyADeviceDidNotOpen)
{
    PtyLine locked;
    ASSERT_EQ(chmod(locked.slavePath().c_str(), 0), 0);
    // Readable folders around a file nobody may read.
    ASSERT_EQ(chmod(m_dir.c_str(), 0755), 0);
    WritePorts("COM9=/dev/ttyUSB0\n");
    ASSERT_EQ(chmod((m_dir + "/tavrin").c_str(), 0755), 0);
    ASSERT_EQ(chmod(PortsFile().c_str(), 0), 0);

    struct Row {
        const char* name;
        int com;
        std::string variable; // TAVRIN_COMn, when set
        bool unprivileged;
        std::vector<std::vector<std::string>> lines; // the parts of each line, in order
        bool advice;                                 // how to get access is said
    };
    const std::string missing = m_dir + "/no-such-device";
    const Row rows[] = {
        {"a missing device", 8, missing, false, {{"COM8", missing, Reason(ENOENT)}}, false},
        {"the default device", 200, "", false, {{"COM200", "/dev/ttyS199", Reason(ENOENT)}}, false},
        {"no permission", 7, locked.slavePath(), true,
         {{"COM7", locked.slavePath(), Reason(EACCES), "dialout", "log in again"}}, true},
        {"an unreadable ports file", 200, "", true,
         {{PortsFile(), Reason(EACCES)}, {"COM200", "/dev/ttyS199", Reason(ENOENT)}}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string variable = "TAVRIN_COM" + std::to_string(row.com);
        row.variable.empty() ? unsetenv(variable.c_str()) : setenv(variable.c_str(), row.variable.c_str(), 1);
        const std::string said = SaidOpening(row.com, row.unprivileged);
        ASSERT_EQ(Lines(said), row.lines.size()) << said;
        size_t at = 0;
        for (const std::vector<std::string>& parts : row.lines) {
            const std::string line = said.substr(at, said.find('\n', at) - at);
            at += line.size() + 1;
            size_t from = 0;
            for (const std::string& part : parts) {
                from = line.find(part, from);
                ASSERT_NE(from, std::string::npos) << "'" << part << "' in: " << line;
            }
            EXPECT_EQ(line.find("dialout") != std::string::npos, row.advice) << line;
        }
    }
}

} // namespace
