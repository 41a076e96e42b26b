// TextModel: the text of a multi-line edit, held once, as the code page 936
// (GBK) bytes the program handed over, and the characters those bytes show.
//
// The bytes are the truth; the characters are derived from them, character by
// character, and kept in step on every change by decoding again only from the
// character before the change until the old decoding resumes. Each character
// knows the byte it starts at, so positions convert both ways without
// decoding from the start of the text.
//
// What the bytes show (AfxDecodeChar):
//   - CR LF, a lone CR and a lone LF are each one line break '\n'. A CR that
//     is the last byte of the text is a line break at once; an LF that comes
//     after it joins it, so a CR LF pair arriving one byte at a time is one
//     line break, and one line, at every moment.
//   - a lead byte and a valid trail byte are one character; a lead byte
//     followed by anything else shows one U+FFFD, and that next byte is read
//     afresh (a CR or LF after a stray lead byte still ends the line). A lead
//     byte that is the last byte of the text shows nothing yet.
//   - TAB is itself; other control bytes show as visible symbols (U+2400 plus
//     the byte, U+2421 for 0x7F); a byte that starts no character is U+FFFD.
// No Qt here: the model and its tests need no window system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The character that starts `bytes`, in *out. Returns how many bytes it
// takes; 0 when `bytes` ends before the character is known (a last lead
// byte) and more may follow (`final` false). With `final`, the bytes end
// there: a last lead byte is U+FFFD.
size_t AfxDecodeChar(std::string_view bytes, bool final, char16_t* out);

class TextModel {
public:
    // A change of the characters: `removed` characters at `from` became
    // `inserted` ones. Characters before `from` and after the change are the
    // same as before (the unchanged ends are trimmed off).
    struct Change {
        int from = 0;
        int removed = 0;
        int inserted = 0;
    };

    const std::string& bytes() const { return m_bytes; }
    size_t byteLength() const { return m_bytes.size(); }

    // The characters shown, '\n' between lines. A last lead byte is not
    // among them yet.
    const std::u16string& chars() const { return m_chars; }
    int length() const { return static_cast<int>(m_chars.size()); }

    // Replaces bytes [from, to) (clamped to the text) with `bytes`.
    Change replace(size_t from, size_t to, std::string_view bytes);
    Change setBytes(std::string_view bytes) { return replace(0, m_bytes.size(), bytes); }

    // The character position of a byte position: the boundary at or before
    // it (a byte inside a character maps to that character's start; the
    // bytes not shown yet map to the end).
    int charAt(size_t byte) const;
    // The byte where a character starts; the end of all bytes for length().
    size_t byteAt(int pos) const;

private:
    // Appends after a text whose last character no byte can change (no
    // lead byte waiting for its trail, no CR that an LF may join): only the
    // new bytes are decoded. The receive area's change with every byte.
    Change appendSettled(std::string_view bytes);

    std::string m_bytes;
    std::u16string m_chars;
    std::vector<std::uint32_t> m_starts;  // byte where each character starts
    size_t m_decodedEnd = 0;              // bytes after this are not shown yet
    // Characters decoded by a change, kept to spare an allocation per change.
    std::u16string m_fresh;
    std::vector<std::uint32_t> m_freshStarts;
};
