// Window-free rules of sending: hexadecimal digits and pairs, the auto-send
// period and the sent-count text.
#pragma once

#include <string_view>
#include <vector>

#include "console/recvdisplay.h"
#include "framework/cstring.h"

// The value 0 to 15 of a hexadecimal digit, or 16 for any other byte. The byte
// is taken as signed, so no byte of 0x80 or above (the first byte of every
// double-byte character) is ever a digit.
int HexDigitValue(char byte);

// The bytes that the hexadecimal pairs of a text denote. Blanks are skipped
// only where a pair would begin; conversion stops silently at the first pair
// that is not two digits (a blank, CR or LF inside it included) and drops a
// lone last character. The result grows as needed: a long text is converted
// whole.
std::vector<BYTE> HexTextToBytes(std::string_view text);

struct AutoSendPeriod {
    UINT nInterval = 0;          // milliseconds, as handed to SetTimer
    bool bRefillDefault = false; // the period edit is to show "1000" again
};

// The period rule: an empty text means 1000 ms and refills the edit;
// otherwise the text's leading integer (as atoi reads it), a signed value
// passed on unchanged as an unsigned interval. The timer applies its own
// bounds to 0 and to huge intervals.
AutoSendPeriod AutoSendPeriodFromText(const CString& strPeriod);

inline constexpr UINT kDefaultPeriodMs = 1000;

// " 发送：%lld 字节" of the count, for status-bar part 1.
CString SendCountText(ByteCount nCount);
