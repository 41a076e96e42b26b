// Code page 936 (GBK): which bytes lead and trail, and the characters of byte
// pairs, for code without Qt. The table is built once from the system's GBK
// codec behind the one conversion point (qtext.cpp).
#pragma once

#include <cstdint>

inline bool AfxGbkIsLead(unsigned byte) { return byte >= 0x81 && byte <= 0xFE; }
inline bool AfxGbkIsTrail(unsigned byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }

// The character of a lead and a trail byte; U+FFFD when the pair has none.
char16_t AfxGbkPair(unsigned lead, unsigned trail);
// The character of the single byte 0x80 (the euro sign), or U+FFFD.
char16_t AfxGbkEuro();
