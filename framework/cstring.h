// CString: a text of code page 936 (GBK) bytes. Every length is a length in
// bytes; a double-byte character counts two. This half of the framework has no
// Qt in it, so window-free logic can use it; the one conversion to and from
// Qt's Unicode lives in the windowed half (qtext.h).
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "platform/wintypes.h"

class CString {
public:
    CString() = default;
    CString(const char* text) : m_bytes(text ? text : "") {}
    CString(const char* bytes, int length) : m_bytes(bytes, length > 0 ? length : 0) {}
    explicit CString(std::string bytes) : m_bytes(std::move(bytes)) {}
    explicit CString(std::string_view bytes) : m_bytes(bytes) {}

    int GetLength() const { return static_cast<int>(m_bytes.size()); }
    bool IsEmpty() const { return m_bytes.empty(); }
    void Empty() { m_bytes.clear(); }

    // Zero-terminated bytes, valid until the string next changes.
    const char* GetString() const { return m_bytes.c_str(); }
    operator const char*() const { return m_bytes.c_str(); }
    const std::string& bytes() const { return m_bytes; }

    char GetAt(int index) const { return m_bytes.at(static_cast<size_t>(index)); }

    CString& operator=(const char* text) { m_bytes = text ? text : ""; return *this; }
    CString& operator+=(const CString& other) { m_bytes += other.m_bytes; return *this; }
    CString& operator+=(const char* text) { if (text) m_bytes += text; return *this; }
    CString& operator+=(char c) { m_bytes += c; return *this; }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_bytes + b.m_bytes); }
    friend CString operator+(const char* a, const CString& b) { return CString(std::string(a ? a : "") + b.m_bytes); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.m_bytes + (b ? b : "")); }
    friend bool operator==(const CString& a, const CString& b) { return a.m_bytes == b.m_bytes; }
    friend bool operator==(const CString& a, const char* b) { return a.m_bytes == (b ? b : ""); }

    // printf formatting. The result ends at its first NUL, as a C string does,
    // so "%c" with 0 gives an empty string.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* format, va_list args);

    // Loads a string resource; false (and an empty string) when there is none.
    BOOL LoadString(UINT id);

private:
    std::string m_bytes;
};

// Looks up a string resource of the program, or nullptr. The program installs
// its table once at start-up (AfxSetResources); until then nothing is found.
const char* AfxFindStringResource(UINT id);
