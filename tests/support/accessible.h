// What the framework's controls tell assistive tools, as a test hears it.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// Hears the framework's accessibility events while it lives (GUI thread),
// each written down as one line in UTF-8: "insert 3 ab", "remove 0 ab",
// "update 0 ab>c", "cursor 3", "selection 1 2", "name <the new name>".
struct AccessibilityLog {
    AccessibilityLog();
    ~AccessibilityLog();
    std::vector<std::string> told;
};

} // namespace testsupport
