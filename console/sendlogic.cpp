#include "console/sendlogic.h"

#include "console/leadingint.h"
#include "console/texts.h"

int HexDigitValue(char byte)
{
    const signed char c = static_cast<signed char>(byte);
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 16;
}

std::vector<BYTE> HexTextToBytes(std::string_view text)
{
    std::vector<BYTE> bytes;
    bytes.reserve(text.size() / 2);
    size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == ' ') {
            ++pos;
            continue;
        }
        if (pos + 1 == text.size())
            break;
        const int high = HexDigitValue(text[pos]);
        const int low = HexDigitValue(text[pos + 1]);
        if (high == 16 || low == 16)
            break;
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
        pos += 2;
    }
    return bytes;
}

AutoSendPeriod AutoSendPeriodFromText(const CString& strPeriod)
{
    AutoSendPeriod period;
    if (strPeriod.IsEmpty()) {
        period.nInterval = kDefaultPeriodMs;
        period.bRefillDefault = true;
        return period;
    }
    // A negative period wraps to a large interval, as the timer would get it.
    period.nInterval = static_cast<UINT>(LeadingInt(strPeriod));
    return period;
}

CString SendCountText(ByteCount nCount)
{
    return CountText(kTextSendCountFormat, nCount);
}
