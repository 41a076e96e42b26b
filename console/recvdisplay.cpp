#include "console/recvdisplay.h"

#include <charconv>
#include <climits>
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

const char* CountTextCache::For(ByteCount nCount)
{
    if (m_bKnown && nCount == m_nCount)
        return m_text.c_str();
    if (m_bKnown && m_nCount < LLONG_MAX && nCount == m_nCount + 1) {
        // The digits count up in place: a 9 turns to 0 and carries.
        size_t at = m_digitsEnd;
        while (at > m_digitsAt && m_text[at - 1] == '9')
            m_text[--at] = '0';
        if (at > m_digitsAt) {
            ++m_text[at - 1];
        } else {
            m_text.insert(m_text.begin() + static_cast<std::ptrdiff_t>(m_digitsAt), '1');
            ++m_digitsEnd;
        }
    } else {
        m_text = CountText(m_format, nCount).bytes();
        m_digitsAt = std::string_view(m_format).find("%lld");
        m_digitsEnd = m_text.size() - (std::string_view(m_format).size() - m_digitsAt - 4);
    }
    // A negative count's digits do not count up as a positive count's do: it
    // is written whole every time.
    m_bKnown = nCount >= 0;
    m_nCount = nCount;
    return m_text.c_str();
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
