#include "framework/textmodel.h"

#include <algorithm>

#include "framework/gbk.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Printable ASCII, LF and TAB are shown as themselves.
bool standsForItself(unsigned b)
{
    return (b >= 0x20 && b < 0x7F) || b == '\n' || b == '\t';
}

} // namespace

size_t AfxDecodeChar(std::string_view bytes, bool final, char16_t* out)
{
    if (bytes.empty())
        return 0;
    const unsigned b = static_cast<unsigned char>(bytes[0]);
    if (standsForItself(b)) {
        *out = static_cast<char16_t>(b);
        return 1;
    }
    if (b == '\r') {
        // A last CR is a line break at once; an LF that follows joins it, and
        // the pair stays one line break.
        *out = u'\n';
        return bytes.size() >= 2 && bytes[1] == '\n' ? 2 : 1;
    }
    if (AfxGbkIsLead(b)) {
        if (bytes.size() < 2) {
            if (!final)
                return 0;  // its trail byte may be on its way
            *out = kReplacement;
            return 1;
        }
        const unsigned trail = static_cast<unsigned char>(bytes[1]);
        if (!AfxGbkIsTrail(trail)) {
            *out = kReplacement;  // the next byte is read afresh
            return 1;
        }
        *out = AfxGbkPair(b, trail);
        return 2;
    }
    if (b < 0x20)
        *out = static_cast<char16_t>(0x2400 + b);
    else if (b == 0x7F)
        *out = u'\u2421';
    else if (b == 0x80)
        *out = AfxGbkEuro();
    else
        *out = kReplacement;  // 0xFF starts nothing
    return 1;
}

TextModel::Change TextModel::replace(size_t from, size_t to, std::string_view bytes)
{
    from = std::min(from, m_bytes.size());
    to = std::clamp(to, from, m_bytes.size());
    const int count = length();
    if (from == m_bytes.size() && m_decodedEnd == from && (m_bytes.empty() || m_bytes.back() != '\r'))
        return appendSettled(bytes);

    // The character before the change may have looked at its first byte (a
    // CR or a lead byte deciding what it is), so decoding starts there. An
    // append, the receive area's change with every byte, needs no search.
    const bool append = from == m_bytes.size();
    int restart = append ? count - 1
                         : static_cast<int>(std::upper_bound(m_starts.begin(), m_starts.end(), from) - m_starts.begin()) - 1;
    if (!append && restart >= 0 && m_starts[static_cast<size_t>(restart)] == from)
        --restart;
    restart = std::max(restart, 0);
    size_t pos = restart < count ? m_starts[static_cast<size_t>(restart)] : m_decodedEnd;

    m_bytes.replace(from, to - from, bytes);
    const std::ptrdiff_t delta = static_cast<std::ptrdiff_t>(bytes.size()) - static_cast<std::ptrdiff_t>(to - from);
    const size_t editEnd = from + bytes.size();

    // Decodes until a character ends where an old one after the change
    // started: from there on the old characters stand as they were.
    std::u16string& fresh = m_fresh;
    std::vector<std::uint32_t>& freshStarts = m_freshStarts;
    fresh.clear();
    freshStarts.clear();
    int resume = append ? count : static_cast<int>(std::lower_bound(m_starts.begin(), m_starts.end(), to) - m_starts.begin());
    bool resumed = false;
    for (;;) {
        if (pos >= editEnd) {
            while (resume < count && static_cast<std::ptrdiff_t>(m_starts[static_cast<size_t>(resume)]) + delta <
                                         static_cast<std::ptrdiff_t>(pos))
                ++resume;
            if (resume < count &&
                static_cast<std::ptrdiff_t>(m_starts[static_cast<size_t>(resume)]) + delta ==
                    static_cast<std::ptrdiff_t>(pos)) {
                resumed = true;
                break;
            }
        }
        char16_t c = 0;
        const size_t n = AfxDecodeChar(std::string_view(m_bytes).substr(pos), false, &c);
        if (n == 0)
            break;
        fresh += c;
        freshStarts.push_back(static_cast<std::uint32_t>(pos));
        pos += n;
    }
    if (!resumed)
        resume = count;
    m_decodedEnd = resumed ? static_cast<size_t>(static_cast<std::ptrdiff_t>(m_decodedEnd) + delta) : pos;

    // Only the characters that really differ are reported.
    int removed = resume - restart;
    int inserted = static_cast<int>(fresh.size());
    int head = 0;
    while (head < removed && head < inserted && m_chars[static_cast<size_t>(restart + head)] == fresh[static_cast<size_t>(head)])
        ++head;
    int tail = 0;
    while (tail < removed - head && tail < inserted - head &&
           m_chars[static_cast<size_t>(resume - 1 - tail)] == fresh[static_cast<size_t>(inserted - 1 - tail)])
        ++tail;

    const auto at = static_cast<std::ptrdiff_t>(restart);
    m_chars.replace(static_cast<size_t>(restart), static_cast<size_t>(removed), fresh);
    m_starts.erase(m_starts.begin() + at, m_starts.begin() + resume);
    m_starts.insert(m_starts.begin() + at, freshStarts.begin(), freshStarts.end());
    if (delta != 0) {
        for (auto it = m_starts.begin() + at + inserted; it != m_starts.end(); ++it)
            *it = static_cast<std::uint32_t>(static_cast<std::ptrdiff_t>(*it) + delta);
    }
    return {restart + head, removed - head - tail, inserted - head - tail};
}

TextModel::Change TextModel::appendSettled(std::string_view bytes)
{
    const int count = length();
    m_bytes.append(bytes);
    const std::string_view all(m_bytes);
    size_t pos = m_decodedEnd;
    char16_t c = 0;
    for (size_t n; pos < all.size(); pos += n) {
        // The common case without the decoder's other rules.
        if (const unsigned b = static_cast<unsigned char>(all[pos]); standsForItself(b)) {
            c = static_cast<char16_t>(b);
            n = 1;
        } else if ((n = AfxDecodeChar(all.substr(pos), false, &c)) == 0) {
            break;
        }
        m_chars.push_back(c);
        m_starts.push_back(static_cast<std::uint32_t>(pos));
    }
    m_decodedEnd = pos;
    return {count, 0, length() - count};
}

int TextModel::charAt(size_t byte) const
{
    if (byte >= m_decodedEnd)
        return length();
    return static_cast<int>(std::upper_bound(m_starts.begin(), m_starts.end(), byte) - m_starts.begin()) - 1;
}

size_t TextModel::byteAt(int pos) const
{
    if (pos < 0)
        return 0;
    return pos < length() ? m_starts[static_cast<size_t>(pos)] : m_bytes.size();
}
