// Which device COMn opens (the variable, the ports file, /dev/ttyS{n-1}), and
// the line on standard error when a device cannot be opened.
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/portnames.h"
#include "pty.h"

namespace {

using namespace std::string_literals;

// What `action` writes to standard error.
std::string StderrOf(const std::function<void()>& action)
{
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

size_t Lines(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Each test has a configuration folder of its own as $XDG_CONFIG_HOME.
class PortNames : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / "tavrin-config-XXXXXX";
        ASSERT_NE(mkdtemp(m_dir.data()), nullptr);
        setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("XDG_CONFIG_HOME");
        for (const char* name : {"TAVRIN_COM2", "TAVRIN_COM7", "TAVRIN_COM8"})
            unsetenv(name);
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

// Each row is one reading, in this order: a problem is said when a reading
// finds it and the one before did not.
TEST_F(PortNames, PortsFileReadings)
{
    struct Row {
        std::optional<std::string> file; // empty: none; nullopt: a folder in its place
        const char* device;              // what COM2 stands for
        std::vector<int> said;           // the lines reported (0: the file itself)
    };
    const std::string malformed = "COM2 /dev/ttyUSB0\nCOM0=/dev/a\nCOM256=/dev/b\nLPT1=/dev/c\nCOM2=dev/ttyUSB0\n"
                                  "COM2=\nCOM02=/dev/d\n=/dev/e\nCOM2=/dev/tty\0USB0\nCOM2=/dev/ttyUSB2\nCOM2=/dev/ttyUSB3\n"s;
    const Row rows[] = {
        {"", "/dev/ttyS1", {}},
        {"COM2=/dev/ttyUSB0\n", "/dev/ttyUSB0", {}},
        {"COM1=/dev/ttyUSB0\nCOM3=/dev/ttyUSB1\n", "/dev/ttyS1", {}},
        {"# adapters\n\n  COM2 =  /dev/serial/by-id/usb-X-if00-port0  # grey\n\t\n# COM2=/dev/no\n",
         "/dev/serial/by-id/usb-X-if00-port0", {}},
        {"com2=/dev/ttyACM0\r\n#", "/dev/ttyACM0", {}},
        {malformed, "/dev/ttyUSB2", {1, 2, 3, 4, 5, 6, 7, 8, 9, 11}},
        {malformed, "/dev/ttyUSB2", {}},                // unchanged: said already
        {"COM2=/dev/ttyUSB0\n", "/dev/ttyUSB0", {}},
        {"COM2 /dev/ttyUSB0\n", "/dev/ttyS1", {1}},    // fixed, then back
        {std::nullopt, "/dev/ttyS1", {0}},
        {std::nullopt, "/dev/ttyS1", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file.value_or("a folder"));
        std::filesystem::remove_all(PortsFile());
        if (!row.file)
            std::filesystem::create_directories(PortsFile());
        else if (!row.file->empty())
            WritePorts(*row.file);
        std::string device;
        const std::string said = StderrOf([&] { device = platform::DevicePathOf(2); });
        EXPECT_EQ(device, row.device);
        EXPECT_EQ(Lines(said), row.said.size()) << said;
        for (int line : row.said) {
            std::string where = PortsFile();
            if (line)
                where.append(":").append(std::to_string(line));
            EXPECT_NE(said.find(where + ": "), std::string::npos) << said;
        }
    }
    // With XDG_CONFIG_HOME empty or not absolute the file is under the home folder.
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    setenv("HOME", m_dir.c_str(), 1);
    std::filesystem::create_directories(m_dir + "/.config/tavrin");
    std::ofstream(m_dir + "/.config/tavrin/ports.conf") << "COM2=/dev/ttyUSB9\n";
    for (const char* config : {"", "tavrin-relative"}) {
        setenv("XDG_CONFIG_HOME", config, 1);
        EXPECT_EQ(platform::DevicePathOf(2), "/dev/ttyUSB9") << config;
    }
    setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(PortNames, ThePortsFileNamesARealDeviceAndTheVariableComesFirst)
{
    PtyLine first;
    PtyLine second;
    WritePorts("COM7=" + first.slavePath() + "\n");
    HANDLE port = OpenCom(7);
    EXPECT_TRUE(LineLocked(first.slavePath())) << "the port does not hold the line the file names";
    CloseHandle(port);
    second.NameAs(7);
    port = OpenCom(7);
    EXPECT_TRUE(LineLocked(second.slavePath())) << "the port does not hold the line the variable names";
    CloseHandle(port);
}

// A device of the owner, group and mode given, as chown and chmod leave it.
void Own(const PtyLine& line, const char* group, mode_t mode)
{
    const ::group* entry = getgrnam(group);
    ASSERT_NE(entry, nullptr) << "no group " << group << " on this system";
    ASSERT_EQ(chown(line.slavePath().c_str(), 0, entry->gr_gid), 0) << std::strerror(errno);
    ASSERT_EQ(chmod(line.slavePath().c_str(), mode), 0) << std::strerror(errno);
}

TEST_F(PortNames, WhyADeviceDidNotOpen)
{
    PtyLine closed;
    ASSERT_EQ(chmod(closed.slavePath().c_str(), 0), 0);
    PtyLine dialout;
    ASSERT_NO_FATAL_FAILURE(Own(dialout, "dialout", 0660));
    PtyLine uucp;
    ASSERT_NO_FATAL_FAILURE(Own(uucp, "uucp", 0660));
    PtyLine rootOnly;
    ASSERT_NO_FATAL_FAILURE(Own(rootOnly, "root", 0600));
    WritePorts("COM9=/dev/ttyUSB0\n");
    // Folders anyone may enter, around a file nobody may read.
    ASSERT_EQ(chmod(m_dir.c_str(), 0755) | chmod((m_dir + "/tavrin").c_str(), 0755) | chmod(PortsFile().c_str(), 0), 0);
    const std::string missing = m_dir + "/no-such-device";
    const std::string noEntry = std::strerror(ENOENT);
    const std::string denied = std::strerror(EACCES);
    // A line another program holds, as well-behaved ones do, with its lock.
    PtyLine held;
    const int holder = open(held.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    struct Row {
        int com;
        std::string variable; // TAVRIN_COMn, when set
        bool asUser;          // opened by a child that gave up root: the user nobody
        size_t lines;
        std::vector<std::string> parts; // what is said, in this order
    };
    const Row rows[] = {
        {8, missing, false, 1, {"COM8", missing, noEntry}},
        {2, "", false, 1, {"COM2", "/dev/ttyS1", noEntry}},
        {7, dialout.slavePath(), true, 1,
         {"COM7", dialout.slavePath(), denied, "belongs to the group dialout", "adduser nobody dialout", "log in again"}},
        {7, uucp.slavePath(), true, 1,
         {"COM7", uucp.slavePath(), denied, "belongs to the group uucp", "adduser nobody uucp", "log in again"}},
        {7, rootOnly.slavePath(), true, 1,
         {"COM7", rootOnly.slavePath(), denied, "only root may open it (root:root, mode 600)", "no group"}},
        {7, closed.slavePath(), true, 1, {"COM7", closed.slavePath(), denied, "only root may open it", "mode 000"}},
        {2, "", true, 2, {PortsFile(), denied, "\n", "COM2", "/dev/ttyS1", noEntry}},
        {6, held.slavePath(), false, 1, {"COM6", held.slavePath(), std::strerror(EBUSY)}},
    };
    for (const Row& row : rows) {
        const std::string variable = "TAVRIN_COM" + std::to_string(row.com);
        row.variable.empty() ? unsetenv(variable.c_str()) : setenv(variable.c_str(), row.variable.c_str(), 1);
        const std::string said = StderrOf([&] {
            if (row.asUser)
                EXPECT_EQ(ExitStatusAsNobody([&] { return OpenCom(row.com) == INVALID_HANDLE_VALUE ? 0 : 1; }), 0)
                    << "1: the device opened; 2: still root";
            else
                EXPECT_EQ(OpenCom(row.com), INVALID_HANDLE_VALUE);
        });
        EXPECT_EQ(Lines(said), row.lines) << said;
        size_t from = 0;
        for (const std::string& part : row.parts)
            ASSERT_NE(from = said.find(part, from), std::string::npos) << part << " in: " << said;
        // Advice only where a permission was the reason, and a group only
        // where one gives access.
        const bool joins = std::any_of(row.parts.begin(), row.parts.end(),
                                       [](const std::string& part) { return part.find("adduser") == 0; });
        EXPECT_EQ(said.find("adduser") != std::string::npos, joins) << said;
    }
    close(holder);
}

} // namespace
