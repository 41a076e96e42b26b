// The auto-send period rule, against the rule as atoi states it: white space,
// a sign, then digits up to the first other byte (the text ends at a NUL);
// beyond the range of int the value saturates; the interval is that value as
// an unsigned number. An empty text is 1000 ms and refills the edit.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

#include "console/sendlogic.h"
#include "fuzz/check.h"

namespace {

bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

long long Expected(const char* text)
{
    while (IsSpace(*text))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;  // saturated: only its side matters now
    }
    value = negative ? -value : value;
    if (value > INT_MAX)
        return INT_MAX;
    return value < INT_MIN ? INT_MIN : value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const CString text{std::string(reinterpret_cast<const char*>(data), size)};
    const AutoSendPeriod period = AutoSendPeriodFromText(text);
    if (size == 0) {
        FUZZ_CHECK(period.nInterval == kDefaultPeriodMs && period.bRefillDefault, "an empty period is not the default");
        return 0;
    }
    FUZZ_CHECK(!period.bRefillDefault, "a period of %zu bytes refills the edit", size);
    const long long expected = Expected(text.GetString());
    FUZZ_CHECK(period.nInterval == static_cast<UINT>(static_cast<int>(expected)), "interval %u, expected %lld",
               period.nInterval, expected);
    return 0;
}
