// The one conversion point between the program's code page 936 (GBK) bytes
// and Qt's Unicode.
//
// Toward a widget (display), a whole text as AfxDecodeChar (textmodel.h)
// shows it: CR LF, a lone CR and a lone LF are each one line break '\n'; TAB
// stays; other control bytes show as visible symbols (U+2400 plus the byte,
// U+2421 for 0x7F); a byte that does not start a valid character, or a lead
// byte whose next byte is no valid trail byte, shows as one U+FFFD and the
// next byte is processed afresh (so a CR or LF after a stray lead byte still
// ends the line).
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
