// The ports file, whole and line by line. Every device taken is an absolute
// path, with no blank at either end, no NUL, line break or '#', found in the
// text as written; every port is COM1 to COM255. Each line read alone gives
// what it gives inside the file, but that a port already named by an earlier
// line is refused there: the file keeps the first. What is said of a line
// names the file and the line and is one line itself, whatever the text
// holds.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "fuzz/check.h"
#include "platform/portnames.h"

namespace {

// Only named in what is said of a line.
const std::string kPath = "ports.conf";

void CheckDevices(const platform::PortsFileEntries& entries, std::string_view text)
{
    for (const auto& [number, device] : entries.devices) {
        FUZZ_CHECK(number >= 1 && number <= 255, "COM%d", number);
        FUZZ_CHECK(!device.empty() && device[0] == '/', "COM%d is no absolute path", number);
        FUZZ_CHECK(device.find_first_of(std::string_view("\0\n#", 3)) == std::string::npos, "COM%d holds a NUL, a "
                   "line break or a comment", number);
        FUZZ_CHECK(std::string_view(" \t\r\v\f").find(device.back()) == std::string_view::npos,
                   "COM%d ends in a blank", number);
        FUZZ_CHECK(text.find(device) != std::string_view::npos, "COM%d is not in the text", number);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const platform::PortsFileEntries whole = platform::ParsePortsFile(kPath, text);
    CheckDevices(whole, text);
    for (const std::string& problem : whole.problems)
        FUZZ_CHECK(problem.rfind(kPath + ":", 0) == 0 && problem.find('\n') == std::string::npos,
                   "a report that is not one line about the file: %s", problem.c_str());

    // Line by line: what the file takes is the first entry of each port.
    std::map<int, std::string> firstOfEach;
    size_t problems = 0;
    int lineNumber = 0;
    for (std::string_view rest = text; !rest.empty();) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        ++lineNumber;
        const platform::PortsFileEntries alone = platform::ParsePortsFile(kPath, line);
        CheckDevices(alone, line);
        FUZZ_CHECK(alone.devices.size() + alone.problems.size() <= 1, "line %d alone gives %zu entries and %zu "
                   "problems", lineNumber, alone.devices.size(), alone.problems.size());
        const std::string where = kPath + ":" + std::to_string(lineNumber) + ": ";
        if (!alone.problems.empty()) {
            FUZZ_CHECK(problems < whole.problems.size(), "line %d is not reported in the file", lineNumber);
            const std::string& said = whole.problems[problems++];
            FUZZ_CHECK(said.rfind(where, 0) == 0 && said.substr(where.size()) ==
                           alone.problems[0].substr((kPath + ":1: ").size()),
                       "line %d: %s, but alone: %s", lineNumber, said.c_str(), alone.problems[0].c_str());
        } else if (!alone.devices.empty()) {
            const auto& [number, device] = *alone.devices.begin();
            if (!firstOfEach.emplace(number, device).second) {
                FUZZ_CHECK(problems < whole.problems.size() && whole.problems[problems++].rfind(where, 0) == 0,
                           "line %d names COM%d again without a report", lineNumber, number);
            }
        }
    }
    FUZZ_CHECK(problems == whole.problems.size(), "%zu reports for %zu lines at fault", whole.problems.size(), problems);
    FUZZ_CHECK(whole.devices == firstOfEach, "the file takes other devices than its lines do");
    return 0;
}
