// The one conversion point between the program's code page 936 (GBK) bytes
// and Qt's Unicode.
//
// Toward a widget (display): CR LF, a lone CR and a lone LF are each one line
// break '\n'; TAB stays; other control bytes show as visible symbols (U+2400
// plus the byte, U+2421 for 0x7F); a byte that does not start a valid
// character, or a lead byte whose next byte is no valid trail byte, shows as
// one U+FFFD and the next byte is processed afresh (so a CR or LF after a
// stray lead byte still ends the line).
//
// Back from a widget: '\n' is CR LF; the symbols of control bytes are those
// bytes again; a character the code page cannot hold (U+FFFD among them) is
// '?'.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "framework/cstring.h"

// The display text of bytes, as a whole.
QString AfxQStringFromBytes(std::string_view bytes);
inline QString AfxQString(const CString& text) { return AfxQStringFromBytes(text.bytes()); }

// The bytes of a widget's text.
std::string AfxBytesFromQString(const QString& text);
inline CString AfxCString(const QString& text) { return CString(AfxBytesFromQString(text)); }

// Decodes bytes handed over piece by piece, as the receive path inserts every
// byte on its own, so that the pieces show exactly as their concatenation
// would: a lead byte at the end of a piece stays pending until the next piece
// completes it, and an LF right after a CR adds no second line break.
class AfxDisplayDecoder {
public:
    // The display text of the next piece.
    QString decode(std::string_view bytes);
    // Ends the stream: a pending lead byte becomes U+FFFD (returned).
    QString flush();
    void reset() { m_pendingLead = -1; m_afterCR = false; }

    bool hasPendingLead() const { return m_pendingLead >= 0; }

private:
    int m_pendingLead = -1;  // lead byte waiting for its trail byte
    bool m_afterCR = false;  // the last byte was a CR: an LF now adds nothing
};
