// Window-free rules of the receive display: the received count and its text,
// the text of one received byte, the line limit of the receive area and the
// pause toggle.
#pragma once

#include <string>

#include "framework/cstring.h"

// Counts are 64-bit: a line at 115200 baud passes 2^31 bytes in about two
// and a half days, and a 32-bit count would then turn negative.
typedef long long ByteCount;

// The count text of a format naming its number once, as %lld: the received
// and the sent count.
CString CountText(const char* format, ByteCount nCount);

// " 接收：%lld 字节" of the count, for status-bar part 2.
CString RecvCountText(ByteCount nCount);

// The count text of a format (as CountText's), kept for the count it was
// last asked for. The received count is shown with every byte, and the next
// count's text differs from the last one's in its last digits, changed in
// place: no text is built per byte. For every count the bytes are those of
// CountText.
class CountTextCache {
public:
    explicit CountTextCache(const char* format) : m_format(format) {}
    // The text of nCount, valid until the next call.
    const char* For(ByteCount nCount);

private:
    const char* m_format;
    std::string m_text;
    size_t m_digitsAt = 0;   // where the count's digits start in m_text
    size_t m_digitsEnd = 0;  // and end
    ByteCount m_nCount = 0;  // the count m_text shows, when m_bKnown
    bool m_bKnown = false;
};

// The text a received byte adds to the area: "%02X " in hexadecimal mode,
// otherwise the byte itself; the byte 0 in character mode adds nothing.
CString RecvByteText(BYTE byte, BOOL bHexDisplay);

// The area's content is replaced by the notice when it shows more than this
// many lines; at exactly this many nothing happens.
inline constexpr int kRecvLineLimit = 400;

// Whether an area reporting nLineCount lines is to be replaced by the notice
// before the next byte is shown.
bool RecvAreaOverLimit(int nLineCount);

// The pause button's caption names what the next press does: "继续显示" while
// paused, "停止显示" while showing.
const char* PauseButtonCaption(BOOL bDisplayPaused);
