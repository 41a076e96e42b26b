// The display decoder against glibc's iconv (CP936). A text is shown whole
// (AfxQStringFromBytes) and as the text model shows it when its bytes arrive
// in pieces; both must give what a decoding made with iconv gives:
//   - iconv's character for every byte and pair it converts;
//   - where iconv refuses a lead byte and a valid trail byte, the pair is one
//     character: code page 936 puts the pairs that GBK leaves to users (and
//     the few it leaves empty) in the Private Use Area, from U+E000, area by
//     area (AAA1-AFFE, F8A1-FEFE, A140-A7A0, the rest in byte order), which
//     glibc leaves out; any other refused pair is U+FFFD;
//   - any other byte iconv refuses is one U+FFFD, and the byte after it is
//     read afresh;
//   - then the display's rules: CR LF, a lone CR and a lone LF are one line
//     break, TAB stays, other control bytes show as their symbols; a last
//     lead byte waits for the byte after it, unless the text ends there; a
//     last CR shows its line break at once (an LF after it joins it, so a
//     CR LF pair split between pieces is still one line break).
#include <QString>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <iconv.h>
#include <string>
#include <string_view>

#include "framework/gbk.h"
#include "framework/qtext.h"
#include "framework/textmodel.h"
#include "fuzz/check.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

iconv_t Cp936()
{
    static const iconv_t cd = [] {
        const iconv_t opened = iconv_open("UTF-16LE", "CP936");
        FUZZ_CHECK(opened != reinterpret_cast<iconv_t>(-1), "glibc's iconv has no CP936 here");
        return opened;
    }();
    return cd;
}

// iconv's one character for a byte pair; 0 when it refuses it.
char16_t IconvPair(unsigned lead, unsigned trail)
{
    char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    char out[8];
    char* from = in;
    char* to = out;
    size_t inLeft = 2;
    size_t outLeft = sizeof out;
    iconv(Cp936(), nullptr, nullptr, nullptr, nullptr);
    if (iconv(Cp936(), &from, &inLeft, &to, &outLeft) == static_cast<size_t>(-1) || to - out != 2)
        return 0;
    return static_cast<char16_t>(static_cast<unsigned char>(out[0]) | static_cast<unsigned char>(out[1]) << 8);
}

// For each lead and trail byte iconv refuses, its Private Use character, or
// U+FFFD.
class UserArea {
public:
    UserArea()
    {
        m_chars.fill(kReplacement);
        char16_t next = 0xE000;
        auto area = [&](unsigned firstLead, unsigned lastLead, unsigned firstTrail, unsigned lastTrail) {
            for (unsigned lead = firstLead; lead <= lastLead; ++lead)
                for (unsigned trail = firstTrail; trail <= lastTrail; ++trail)
                    if (AfxGbkIsTrail(trail) && !IconvPair(lead, trail) && at(lead, trail) == kReplacement)
                        at(lead, trail) = next++;
        };
        area(0xAA, 0xAF, 0xA1, 0xFE);
        area(0xF8, 0xFE, 0xA1, 0xFE);
        area(0xA1, 0xA7, 0x40, 0xA0);
        // The cells GBK leaves empty among its own rows, up to the end of the
        // Private Use Area code page 936 fills.
        for (unsigned lead = 0x81; lead <= 0xFE && next <= 0xE864; ++lead)
            for (unsigned trail = 0x40; trail <= 0xFE && next <= 0xE864; ++trail)
                if (AfxGbkIsTrail(trail) && !IconvPair(lead, trail) && at(lead, trail) == kReplacement)
                    at(lead, trail) = next++;
    }
    char16_t of(unsigned lead, unsigned trail) const { return m_chars[index(lead, trail)]; }

private:
    static size_t index(unsigned lead, unsigned trail) { return (lead - 0x81) * 0xBF + (trail - 0x40); }
    char16_t& at(unsigned lead, unsigned trail) { return m_chars[index(lead, trail)]; }
    std::array<char16_t, 0x7E * 0xBF> m_chars;
};

const UserArea& Users()
{
    static const UserArea area;
    return area;
}

// The characters iconv gives for the bytes, with the replacements above; a
// last lead byte waits unless `final`.
std::u16string IconvDecode(std::string_view bytes, bool final)
{
    std::u16string chars;
    std::string out(bytes.size() * 2 + 8, '\0');
    iconv(Cp936(), nullptr, nullptr, nullptr, nullptr);
    size_t pos = 0;
    while (pos < bytes.size()) {
        char* from = const_cast<char*>(bytes.data() + pos);
        size_t inLeft = bytes.size() - pos;
        char* to = out.data();
        size_t outLeft = out.size();
        const size_t done = iconv(Cp936(), &from, &inLeft, &to, &outLeft);
        const int error = errno;
        for (const char* unit = out.data(); unit < to; unit += 2)
            chars += static_cast<char16_t>(static_cast<unsigned char>(unit[0]) | static_cast<unsigned char>(unit[1]) << 8);
        pos = bytes.size() - inLeft;
        if (done != static_cast<size_t>(-1))
            break;
        FUZZ_CHECK(error == EILSEQ || error == EINVAL, "iconv: %d", error);
        const unsigned b = static_cast<unsigned char>(bytes[pos]);
        if (pos + 1 == bytes.size() && AfxGbkIsLead(b)) {
            if (final)
                chars += kReplacement;
            break;
        }
        if (AfxGbkIsLead(b) && pos + 1 < bytes.size() && AfxGbkIsTrail(static_cast<unsigned char>(bytes[pos + 1]))) {
            chars += Users().of(b, static_cast<unsigned char>(bytes[pos + 1]));
            pos += 2;
        } else {
            chars += kReplacement;
            pos += 1;
        }
        iconv(Cp936(), nullptr, nullptr, nullptr, nullptr);
    }
    return chars;
}

// The display's rules over iconv's characters.
std::u16string Expected(std::string_view bytes, bool final)
{
    const std::u16string chars = IconvDecode(bytes, final);
    std::u16string shown;
    for (size_t i = 0; i < chars.size(); ++i) {
        const char16_t c = chars[i];
        if (c == u'\r') {
            if (i + 1 < chars.size() && chars[i + 1] == u'\n')
                ++i;
            shown += u'\n';
        } else if (c == u'\n' || c == u'\t') {
            shown += c;
        } else if (c < 0x20) {
            shown += static_cast<char16_t>(0x2400 + c);
        } else if (c == 0x7F) {
            shown += u'\u2421';
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string Hex(std::string_view bytes)
{
    std::string text;
    char pair[4];
    for (unsigned char b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X ", b);
        text += pair;
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte says how the rest arrives: in pieces of 1 to 16 bytes.
    const size_t piece = data[0] % 16 + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    const QString whole = AfxQStringFromBytes(bytes);
    const std::u16string expected = Expected(bytes, true);
    FUZZ_CHECK(whole.size() == static_cast<qsizetype>(expected.size())
                   && std::u16string_view(reinterpret_cast<const char16_t*>(whole.utf16()), expected.size()) == expected,
               "shown whole otherwise than iconv decodes %s", Hex(bytes).c_str());

    TextModel model;
    for (size_t at = 0; at < bytes.size(); at += piece)
        model.replace(model.byteLength(), model.byteLength(), bytes.substr(at, piece));
    FUZZ_CHECK(model.chars() == Expected(bytes, false),
               "shown in pieces of %zu otherwise than iconv decodes %s", piece, Hex(bytes).c_str());
    return 0;
}
