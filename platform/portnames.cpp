#include "platform/portnames.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "platform/diagnostic.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

// A ports file is a few lines; anything larger is not one.
constexpr size_t kMaxFileSize = 64 * 1024;
constexpr std::string_view kBlanks = " \t\r\v\f";

struct Problem {
    std::string report; // what is said
    std::string key;    // what makes it the same problem next time
};

struct PortsFile {
    std::map<int, std::string> devices;
    std::vector<Problem> problems;
};

std::mutex g_mutex;
// For each ports file read, the problems its last reading found.
std::map<std::string, std::set<std::string>> g_lastProblems;

std::string PortsFilePath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/tavrin/ports.conf";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config/tavrin/ports.conf";
    return {};
}

std::string_view Trim(std::string_view text)
{
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// "COMn", n from 1 to 255 without leading zeros, in any case, as CreateFileA
// takes it; 0 for anything else.
int PortNumberOf(std::string_view name)
{
    if (name.size() < 4 || ::strncasecmp(name.data(), "COM", 3) != 0 || name[3] == '0')
        return 0;
    int number = 0;
    const char* end = name.data() + name.size();
    const auto [stop, error] = std::from_chars(name.data() + 3, end, number);
    return error == std::errc() && stop == end && number >= 1 && number <= 255 ? number : 0;
}

// What is wrong with one line of the file, or nothing (the entry is then added).
std::optional<std::string> ParseLine(std::string_view line, int lineNumber, std::map<int, int>& firstLine,
                                     PortsFile& file)
{
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty())
        return std::nullopt;
    if (line.find('\0') != std::string_view::npos)
        return "a NUL byte in the line";
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return "expected COMn=DEVICE";
    const int number = PortNumberOf(Trim(line.substr(0, equals)));
    if (!number)
        return "expected COMn=DEVICE, with n from 1 to 255";
    const std::string_view device = Trim(line.substr(equals + 1));
    if (device.empty() || device[0] != '/')
        return "the device must be an absolute path, such as /dev/ttyUSB0";
    const auto [first, added] = firstLine.emplace(number, lineNumber);
    if (!added)
        return "COM" + std::to_string(number) + " is already named on line " + std::to_string(first->second);
    file.devices.emplace(number, std::string(device));
    return std::nullopt;
}

PortsFile Parse(const std::string& path, std::string_view text)
{
    PortsFile file;
    std::map<int, int> firstLine;
    int lineNumber = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (std::optional<std::string> wrong = ParseLine(line, lineNumber, firstLine, file)) {
            std::string report = path + ":" + std::to_string(lineNumber) + ": " + *wrong + "; line skipped";
            std::string key = report + '\n' + std::string(line);
            file.problems.push_back({std::move(report), std::move(key)});
        }
    }
    return file;
}

PortsFile Unreadable(const std::string& path, std::string_view reason)
{
    std::string report = path + ": " + std::string(reason) + "; the file is skipped";
    return {{}, {{report, report}}};
}

// The file's entries and problems; nothing for a missing file.
PortsFile Read(const std::string& path)
{
    char reason[256];
    int descriptor;
    // Not blocking: a FIFO put in the file's place must not hang an opening.
    while ((descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) < 0 && errno == EINTR) {
    }
    const UniqueFd fd(descriptor);
    if (!fd)
        return errno == ENOENT ? PortsFile{} : Unreadable(path, SystemReason(errno, reason));
    struct stat about;
    if (::fstat(fd.get(), &about) != 0)
        return Unreadable(path, SystemReason(errno, reason));
    if (!S_ISREG(about.st_mode))
        return Unreadable(path, "not a file");
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Unreadable(path, SystemReason(errno, reason));
        if (got == 0)
            return Parse(path, text);
        text.append(chunk, static_cast<size_t>(got));
        if (text.size() > kMaxFileSize)
            return Unreadable(path, "larger than 64 KiB");
    }
}

// Says the problems this reading found that the one before did not.
void ReportNew(const std::string& path, const std::vector<Problem>& problems)
{
    std::set<std::string> now;
    for (const Problem& problem : problems)
        now.insert(problem.key);
    std::lock_guard lock(g_mutex);
    std::set<std::string>& before = g_lastProblems[path];
    for (const Problem& problem : problems)
        if (!before.count(problem.key))
            Diagnose(problem.report);
    before = std::move(now);
}

} // namespace

PortsFileEntries ParsePortsFile(const std::string& path, std::string_view text)
{
    PortsFile file = Parse(path, text);
    PortsFileEntries entries{std::move(file.devices), {}};
    for (Problem& problem : file.problems)
        entries.problems.push_back(std::move(problem.report));
    return entries;
}

std::string DevicePathOf(int number)
{
    const std::string variable = "TAVRIN_COM" + std::to_string(number);
    if (const char* named = std::getenv(variable.c_str()))
        return named;
    const std::string path = PortsFilePath();
    if (!path.empty()) {
        const PortsFile file = Read(path);
        ReportNew(path, file.problems);
        if (auto entry = file.devices.find(number); entry != file.devices.end())
            return entry->second;
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

} // namespace platform
