#include "bench/support/process.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace benchsupport {
namespace {

// The entries of a folder under /proc, "." and ".." left out; -1 when it
// cannot be read.
int EntriesOf(const char* path)
{
    DIR* dir = ::opendir(path);
    if (!dir)
        return -1;
    int count = 0;
    errno = 0;
    while (const dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            ++count;
    const bool failed = errno != 0;
    ::closedir(dir);
    return failed ? -1 : count;
}

} // namespace

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

double CpuSeconds()
{
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0)
        return -1;
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return sec(usage.ru_utime) + sec(usage.ru_stime);
}

double ThreadCpuSeconds()
{
    timespec t{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0)
        return -1;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ProcessCpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command, in parentheses, may hold blanks: fields count from after it.
    const size_t paren = text.rfind(')');
    if (paren == std::string::npos || paren + 2 > text.size())
        return -1;
    // State is field 3, utime 14, stime 15.
    std::istringstream fields(text.substr(paren + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    int i = 3;
    for (; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 15)
            stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    if (i <= 15)
        return -1;
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

int OpenDescriptors()
{
    const int entries = EntriesOf("/proc/self/fd");
    return entries < 0 ? -1 : entries - 1;  // the folder's own, open while it is read
}

int Threads()
{
    return EntriesOf("/proc/self/task");
}

} // namespace benchsupport
