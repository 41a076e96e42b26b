#include "console/leadingint.h"

#include <climits>
#include <cstdlib>

int LeadingInt(const char* text)
{
    if (!text)
        return 0;
    // strtol skips the same white space and takes the same sign as atoi, and
    // reports overflow by saturating, which is then narrowed to int here.
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}
