#include "framework/cstring.h"

#include <cstdio>
#include <cstring>
#include <vector>

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char* format, va_list args)
{
    char small[256];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) {
        m_bytes.clear();
        return;
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        m_bytes.assign(small, std::strlen(small));
        return;
    }
    std::vector<char> large(static_cast<size_t>(needed) + 1);
    std::vsnprintf(large.data(), large.size(), format, args);
    m_bytes.assign(large.data(), std::strlen(large.data()));
}

BOOL CString::LoadString(UINT id)
{
    const char* text = AfxFindStringResource(id);
    m_bytes = text ? text : "";
    return text != nullptr && *text != '\0';
}
