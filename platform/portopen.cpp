#include "platform/portopen.h"

#include <cerrno>
#include <cstdio>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/diagnostic.h"
#include "platform/errors.h"
#include "platform/portnames.h"

namespace platform {
namespace {

// Looks an entry up with a getpwuid_r-like call, its strings in a buffer that
// grows while the call says it is too small (a group of many members).
template <typename Entry, typename Id, typename Lookup>
bool FindEntry(Lookup lookup, Id id, int sizeName, Entry* entry, std::vector<char>* strings)
{
    const long size = ::sysconf(sizeName);
    strings->resize(size > 0 ? static_cast<size_t>(size) : 16384);
    for (;;) {
        Entry* found = nullptr;
        const int error = lookup(id, entry, strings->data(), strings->size(), &found);
        if (error == ERANGE && strings->size() < (1u << 20)) {
            strings->resize(strings->size() * 2);
            continue;
        }
        return error == 0 && found;
    }
}

// The name of a user id; the number when the system has no name for it.
std::string UserName(uid_t uid)
{
    passwd entry;
    std::vector<char> strings;
    return FindEntry(::getpwuid_r, uid, _SC_GETPW_R_SIZE_MAX, &entry, &strings) ? entry.pw_name
                                                                                   : std::to_string(uid);
}

// The name of a group id; empty when the system has no name for it.
std::string GroupName(gid_t gid)
{
    group entry;
    std::vector<char> strings;
    return FindEntry(::getgrgid_r, gid, _SC_GETGR_R_SIZE_MAX, &entry, &strings) ? entry.gr_name : "";
}

// Whether this process holds the group, as its own or as a supplementary one.
bool HoldsGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<size_t>(i)] == gid)
            return true;
    return false;
}

// How to get at a device the system refused for want of permission, from
// its owner, group and mode: a group that may read and write it can be
// joined (a new membership counts from the next login); a device that only
// its owner may use is not opened through any group. Empty when the mode
// does not explain the refusal (the device vanished, or its mode lets this
// process in: something else keeps it out).
std::string PermissionAdvice(const std::string& path)
{
    struct stat about;
    if (::stat(path.c_str(), &about) != 0)
        return {};
    constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
    constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;
    constexpr mode_t kOthersReadWrite = S_IROTH | S_IWOTH;
    if ((about.st_mode & kOthersReadWrite) == kOthersReadWrite
        || (about.st_uid == ::geteuid() && (about.st_mode & kOwnerReadWrite) == kOwnerReadWrite))
        return {};
    const std::string owner = UserName(about.st_uid);
    const std::string groupName = GroupName(about.st_gid);
    const std::string group = groupName.empty() ? std::to_string(about.st_gid) : groupName;
    if ((about.st_mode & kGroupReadWrite) == kGroupReadWrite) {
        if (HoldsGroup(about.st_gid))
            return {};
        if (groupName.empty())
            return "; the device belongs to the group " + group + ", which has no name on this system";
        return "; the device belongs to the group " + group + ": as root, run \"adduser " + UserName(::getuid()) + " "
            + group + "\", then log in again";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(about.st_mode & 0777));
    const std::string who = (about.st_mode & kOwnerReadWrite) != kOwnerReadWrite || about.st_uid == 0
        ? std::string("root")
        : owner + " and root";
    return "; only " + who + " may open it (" + owner + ":" + group + ", mode " + mode + "): no group gives access";
}

void SayWhy(int number, const std::string& path, DWORD code, int error)
{
    std::string line = "COM" + std::to_string(number) + ": cannot open " + path + ": ";
    if (error) {
        char reason[256];
        line += SystemReason(error, reason);
    } else {
        // The layer's own refusal (a setting the device cannot take).
        char* text = nullptr;
        if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0,
                           reinterpret_cast<LPSTR>(&text), 0, nullptr)) {
            std::string_view shown(text);
            while (!shown.empty() && (shown.back() == '\r' || shown.back() == '\n'))
                shown.remove_suffix(1);
            line += shown;
            LocalFree(text);
        } else {
            line += "error " + std::to_string(code);
        }
    }
    if (error == EACCES || error == EPERM)
        line += PermissionAdvice(path);
    Diagnose(line);
}

} // namespace

std::shared_ptr<Port> OpenComPort(int number)
{
    const std::string path = DevicePathOf(number);
    std::shared_ptr<Port> port = Port::Open(path.c_str());
    if (!port) {
        const DWORD code = GetLastError();
        const int error = LastErrno();
        SayWhy(number, path, code, error);
        // The caller reads the error of the opening, not of the report.
        error ? FailWithErrno(error) : Fail(code);
    }
    return port;
}

} // namespace platform
