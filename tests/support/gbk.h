// Conversions between the UTF-8 of these test sources and the code page 936
// bytes the program holds, through glibc's iconv, so that expected texts can
// be written readably and checked byte for byte.
#pragma once

#include <iconv.h>
#include <optional>
#include <string>
#include <string_view>

// The text converted from one encoding to the other, or nothing when the input
// is not valid in the source encoding or cannot be written in the target one.
inline std::optional<std::string> Reencode(std::string_view text, const char* from, const char* to)
{
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    char* at = out.data();
    size_t inLeft = text.size();
    size_t outLeft = out.size();
    // The second call ends the text: a pending partial character is an error.
    const bool converted = iconv(cd, &in, &inLeft, &at, &outLeft) != static_cast<size_t>(-1)
        && iconv(cd, nullptr, nullptr, &at, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
    iconv_close(cd);
    if (!converted)
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

inline std::string Gbk(std::string_view utf8)
{
    return Reencode(utf8, "UTF-8", "GBK").value_or("<not GBK>");
}

inline std::optional<std::string> Utf8FromGbk(std::string_view gbk)
{
    return Reencode(gbk, "GBK", "UTF-8");
}
