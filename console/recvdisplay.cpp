#include "console/recvdisplay.h"

#include <charconv>
#include <string_view>

#include "console/texts.h"

CString CountText(const char* format, ByteCount nCount)
{
    // The received count is written with every byte: the digits go in
    // without a pass through printf.
    const std::string_view text(format);
    const size_t at = text.find("%lld");
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, nCount).ptr;
    std::string bytes;
    bytes.reserve(text.size() + sizeof digits);
    bytes.append(text.substr(0, at)).append(digits, static_cast<size_t>(end - digits)).append(text.substr(at + 4));
    return CString(std::move(bytes));
}

CString RecvCountText(ByteCount nCount)
{
    return CountText(kTextRecvCountFormat, nCount);
}

CString RecvByteText(BYTE byte, BOOL bHexDisplay)
{
    if (bHexDisplay) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        const char pair[3] = {kDigits[byte >> 4], kDigits[byte & 0xF], ' '};
        return CString(pair, 3);
    }
    // The byte 0 adds nothing: the text would end at it.
    return byte == 0 ? CString() : CString(reinterpret_cast<const char*>(&byte), 1);
}

bool RecvAreaOverLimit(int nLineCount)
{
    return nLineCount > kRecvLineLimit;
}

const char* PauseButtonCaption(BOOL bDisplayPaused)
{
    return bDisplayPaused ? kTextContinueDisplay : kTextStopDisplay;
}
