// Icons 128 and 148: two computers joined by a cable, with green screens and
// cable for an open port and the same drawing in red for a closed one. Both
// share one drawing and differ only in the colours of 'L' and 'D', so the two
// lamps can never drift apart. Colours are from the classic 16-colour palette.
#include <array>
#include <cstddef>

#include "res/resource.h"
#include "res/tables.h"

namespace {

// '.' transparent, 'k' outline, 'w' highlight, 's' bezel, 'g' shadow,
// 'L' screen and cable, 'D' text on the screen and the cable's shaded side.
constexpr const char* kLink32[] = {
    "kkkkkkkkkkkkkkkk................",
    "kwwwwwwwwwwwwwgk................",
    "kwgggggggggggggk................",
    "kwgLLLLLLLLLLwgk................",
    "kwgLDDDDDDLLLwgk................",
    "kwgLLLLLLLLLLwgkg...............",
    "kwgLDDDDDDDDLwgkgLLLLLLLLD......",
    "kwgLLLLLLLLLLwgkgDDDDDDDLD......",
    "kwgLDDDDLDLLLwgkg.......LD......",
    "kwgLLLLLLLLLLwgk........LD......",
    "kwgwwwwwwwwwwwgk........LD......",
    "kwssssssssssLsgk........LD......",
    "kggggggggggggggk........LD......",
    "kkkkkkkkkkkkkkkk........LD......",
    ".....kggggk............gggg.....",
    "..kwsssssssssk..kkkkkkkkkkkkkkkk",
    "..kkkkkkkkkkkk..kwwwwwwwwwwwwwgk",
    "................kwgggggggggggggk",
    "................kwgLLLLLLLLLLwgk",
    "................kwgLDDDDDDLLLwgk",
    "................kwgLLLLLLLLLLwgk",
    "................kwgLDDDDDDDDLwgk",
    "................kwgLLLLLLLLLLwgk",
    "................kwgLDDDDLDLLLwgk",
    "................kwgLLLLLLLLLLwgk",
    "................kwgwwwwwwwwwwwgk",
    "................kwssssssssssLsgk",
    "................kggggggggggggggk",
    "................kkkkkkkkkkkkkkkk",
    ".....................kggggk.....",
    "..................kwsssssssssk..",
    "..................kkkkkkkkkkkk..",
};

constexpr const char* kLink16[] = {
    "kkkkkkkkk.......",
    "kwwwwwwgk.......",
    "kwLLLLLgkLLLLD..",
    "kwLDDDLgkDDDLD..",
    "kwLLLLLgk...LD..",
    "kgggggggk...LD..",
    "kkkkkkkkk...LD..",
    "....k..kkkkkkkkk",
    "..kkkkkkwwwwwwgk",
    ".......kwLLLLLgk",
    ".......kwLDDDLgk",
    ".......kwLLLLLgk",
    ".......kgggggggk",
    ".......kkkkkkkkk",
    "...........k....",
    ".........kkkkk..",
};

constexpr const char* kFrameColours[] = {
    ". c None",
    "k c #000000",
    "g c #808080",
    "s c #C0C0C0",
    "w c #FFFFFF",
};
constexpr const char* kGreen[] = {"L c #00FF00", "D c #008000"};
constexpr const char* kRed[] = {"L c #FF0000", "D c #800000"};

// An XPM image: the header line, then the colours, then one row a line.
template <std::size_t F, std::size_t S, std::size_t R>
constexpr std::array<const char*, 1 + F + S + R> makeXpm(const char* header, const char* const (&frame)[F],
                                                         const char* const (&screen)[S],
                                                         const char* const (&rows)[R])
{
    std::array<const char*, 1 + F + S + R> xpm{};
    std::size_t n = 0;
    xpm[n++] = header;
    for (const char* line : frame)
        xpm[n++] = line;
    for (const char* line : screen)
        xpm[n++] = line;
    for (const char* line : rows)
        xpm[n++] = line;
    return xpm;
}

constexpr auto kOpen32 = makeXpm("32 32 7 1", kFrameColours, kGreen, kLink32);
constexpr auto kOpen16 = makeXpm("16 16 7 1", kFrameColours, kGreen, kLink16);
constexpr auto kClosed32 = makeXpm("32 32 7 1", kFrameColours, kRed, kLink32);
constexpr auto kClosed16 = makeXpm("16 16 7 1", kFrameColours, kRed, kLink16);

}  // namespace

const AfxIconResource g_tavrinIcons[kTavrinIconCount] = {
    {IDI_MAINFRAME, kOpen32.data(), kOpen16.data()},
    {IDI_PORT_CLOSED, kClosed32.data(), kClosed16.data()},
};
