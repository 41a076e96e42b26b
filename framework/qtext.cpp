#include "framework/qtext.h"

#include "framework/gbk.h"
#include "framework/textmodel.h"

#include <QStringDecoder>
#include <QtGlobal>

#include <array>
#include <memory>
#include <vector>

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr int kFirstLead = 0x81;
constexpr int kLastLead = 0xFE;
constexpr int kFirstTrail = 0x40;
constexpr int kTrailCount = 0xFE - kFirstTrail + 1;

// Code page 936 in both directions, built once from the system's GBK codec.
// Byte structure (which bytes lead, which trail) is fixed by the code page, so
// decoding never depends on where a text was cut into pieces.
class Gbk {
public:
    Gbk() : m_pairs(static_cast<size_t>(kLastLead - kFirstLead + 1) * kTrailCount, kReplacement),
            m_reverse(0x10000, 0)
    {
        QStringDecoder probe("GBK");
        if (!probe.isValid())
            qFatal("The GBK codec is missing from this Qt: code page 936 texts cannot be shown");
        for (int lead = kFirstLead; lead <= kLastLead; ++lead)
            buildRow(lead);
        QStringDecoder single("GBK");
        const QString euro = single.decode(QByteArray(1, '\x80'));
        if (!single.hasError() && euro.size() == 1 && euro[0].unicode() != kReplacement)
            m_euro = euro[0].unicode();
        // Reverse: the first byte pair giving a character wins.
        if (m_euro != kReplacement)
            m_reverse[m_euro] = 0x80;
        for (int lead = kFirstLead; lead <= kLastLead; ++lead) {
            for (int trail = kFirstTrail; trail <= 0xFE; ++trail) {
                if (!AfxGbkIsTrail(static_cast<unsigned>(trail)))
                    continue;
                const char16_t c = pair(lead, trail);
                if (c != kReplacement && c >= 0x80 && m_reverse[c] == 0)
                    m_reverse[c] = static_cast<std::uint16_t>(lead << 8 | trail);
            }
        }
    }

    char16_t pair(unsigned lead, unsigned trail) const
    {
        return m_pairs[(lead - kFirstLead) * kTrailCount + (trail - kFirstTrail)];
    }
    char16_t euro() const { return m_euro; }
    // The bytes of a character (one byte when below 0x100), 0 when none.
    std::uint16_t encode(char16_t c) const { return m_reverse[c]; }

private:
    void buildRow(int lead)
    {
        // One call per row; a row whose output does not come out one
        // character per pair is decoded pair by pair.
        QByteArray bytes;
        std::vector<int> trails;
        for (int trail = kFirstTrail; trail <= 0xFE; ++trail) {
            if (!AfxGbkIsTrail(static_cast<unsigned>(trail)))
                continue;
            bytes.append(static_cast<char>(lead));
            bytes.append(static_cast<char>(trail));
            trails.push_back(trail);
        }
        QStringDecoder row("GBK");
        const QString text = row.decode(bytes);
        if (text.size() == static_cast<qsizetype>(trails.size())) {
            for (size_t i = 0; i < trails.size(); ++i)
                set(lead, trails[i], text[static_cast<qsizetype>(i)].unicode());
            return;
        }
        for (int trail : trails) {
            QStringDecoder one("GBK");
            const QString c = one.decode(QByteArray{static_cast<char>(lead), static_cast<char>(trail)});
            set(lead, trail, !one.hasError() && c.size() == 1 ? c[0].unicode() : kReplacement);
        }
    }

    void set(int lead, int trail, char16_t c)
    {
        // A surrogate cannot stand alone in a widget; such pairs show as one
        // replacement.
        if (c >= 0xD800 && c <= 0xDFFF)
            c = kReplacement;
        m_pairs[static_cast<size_t>((lead - kFirstLead) * kTrailCount + (trail - kFirstTrail))] = c;
    }

    std::vector<char16_t> m_pairs;
    std::vector<std::uint16_t> m_reverse;
    char16_t m_euro = kReplacement;
};

const Gbk& gbk()
{
    static const Gbk table;
    return table;
}

}  // namespace

char16_t AfxGbkPair(unsigned lead, unsigned trail)
{
    return gbk().pair(lead, trail);
}

char16_t AfxGbkEuro()
{
    return gbk().euro();
}

QString AfxQStringFromBytes(std::string_view bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    while (!bytes.empty()) {
        char16_t c = 0;
        const size_t n = AfxDecodeChar(bytes, true, &c);
        text += QChar(c);
        bytes.remove_prefix(n);
    }
    return text;
}

std::string AfxBytesFromQString(const QString& text)
{
    const Gbk& table = gbk();
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\n') {
            out += "\r\n";
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c > 0x2400 && c < 0x2420) {
            out += static_cast<char>(c - 0x2400);  // the symbol of a control byte
        } else if (c == 0x2421) {
            out += '\x7F';
        } else if (QChar::isHighSurrogate(c)) {
            // Outside the code page; the whole pair is one character.
            out += '?';
            if (i + 1 < text.size() && text[i + 1].isLowSurrogate())
                ++i;
        } else if (const std::uint16_t code = table.encode(c)) {
            if (code > 0xFF)
                out += static_cast<char>(code >> 8);
            out += static_cast<char>(code & 0xFF);
        } else {
            out += '?';
        }
    }
    return out;
}
