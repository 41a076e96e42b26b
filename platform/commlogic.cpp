#include "platform/commlogic.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <utility>

namespace platform {
namespace {

struct BaudSpeed {
    DWORD baud;
    speed_t speed;
};

constexpr BaudSpeed kSpeeds[] = {
    {50, B50},         {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

// The two-digit abbreviations the mode command has always taken.
struct Abbreviation {
    DWORD written;
    DWORD baud;
};

constexpr Abbreviation kAbbreviations[] = {
    {11, 110}, {15, 150}, {30, 300}, {60, 600}, {12, 1200}, {24, 2400}, {48, 4800}, {96, 9600}, {19, 19200},
};

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::optional<DWORD> ParseBaud(std::string_view s)
{
    if (s.empty() || s.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > MAXDWORD)
        return std::nullopt;
    for (const Abbreviation& a : kAbbreviations)
        if (a.written == value)
            return a.baud;
    return static_cast<DWORD>(value);
}

std::optional<BYTE> ParseParity(std::string_view s)
{
    if (s.size() != 1)
        return std::nullopt;
    switch (std::tolower(static_cast<unsigned char>(s[0]))) {
    case 'n': return BYTE{NOPARITY};
    case 'o': return BYTE{ODDPARITY};
    case 'e': return BYTE{EVENPARITY};
    case 'm': return BYTE{MARKPARITY};
    case 's': return BYTE{SPACEPARITY};
    default: return std::nullopt;
    }
}

std::optional<BYTE> ParseDataBits(std::string_view s)
{
    if (s.size() != 1 || s[0] < '5' || s[0] > '8')
        return std::nullopt;
    return static_cast<BYTE>(s[0] - '0');
}

std::optional<BYTE> ParseStopBits(std::string_view s)
{
    if (s == "1")
        return BYTE{ONESTOPBIT};
    if (s == "1.5")
        return BYTE{ONE5STOPBITS};
    if (s == "2")
        return BYTE{TWOSTOPBITS};
    return std::nullopt;
}

std::optional<bool> ParseOnOff(std::string_view s)
{
    if (EqualNoCase(s, "on"))
        return true;
    if (EqualNoCase(s, "off"))
        return false;
    return std::nullopt;
}

// What a text named, so that the defaults for the rest can follow.
struct Named {
    bool baud = false, parity = false, data = false, stop = false;
    bool xon = false, odsr = false, octs = false, dtr = false, idsr = false, rts = false;
};

bool ApplyKey(std::string_view key, std::string_view value, DCB& dcb, Named& named)
{
    auto once = [](bool& flag) { return !std::exchange(flag, true); };
    if (EqualNoCase(key, "baud")) {
        auto baud = ParseBaud(value);
        if (!baud || !once(named.baud))
            return false;
        dcb.BaudRate = *baud;
    } else if (EqualNoCase(key, "parity")) {
        auto parity = ParseParity(value);
        if (!parity || !once(named.parity))
            return false;
        dcb.Parity = *parity;
    } else if (EqualNoCase(key, "data")) {
        auto data = ParseDataBits(value);
        if (!data || !once(named.data))
            return false;
        dcb.ByteSize = *data;
    } else if (EqualNoCase(key, "stop")) {
        auto stop = ParseStopBits(value);
        if (!stop || !once(named.stop))
            return false;
        dcb.StopBits = *stop;
    } else if (EqualNoCase(key, "xon")) {
        auto on = ParseOnOff(value);
        if (!on || !once(named.xon))
            return false;
        dcb.fOutX = dcb.fInX = *on;
    } else if (EqualNoCase(key, "odsr")) {
        auto on = ParseOnOff(value);
        if (!on || !once(named.odsr))
            return false;
        dcb.fOutxDsrFlow = *on;
    } else if (EqualNoCase(key, "octs")) {
        auto on = ParseOnOff(value);
        if (!on || !once(named.octs))
            return false;
        dcb.fOutxCtsFlow = *on;
    } else if (EqualNoCase(key, "idsr")) {
        auto on = ParseOnOff(value);
        if (!on || !once(named.idsr))
            return false;
        dcb.fDsrSensitivity = *on;
    } else if (EqualNoCase(key, "dtr")) {
        if (!once(named.dtr))
            return false;
        if (EqualNoCase(value, "hs"))
            dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
        else if (auto on = ParseOnOff(value))
            dcb.fDtrControl = *on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        else
            return false;
    } else if (EqualNoCase(key, "rts")) {
        if (!once(named.rts))
            return false;
        if (EqualNoCase(value, "hs"))
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        else if (EqualNoCase(value, "tg"))
            dcb.fRtsControl = RTS_CONTROL_TOGGLE;
        else if (auto on = ParseOnOff(value))
            dcb.fRtsControl = *on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        else
            return false;
    } else {
        return false;
    }
    return true;
}

// "baud=96 parity=n data=8 stop=1 ...": blank-separated key=value pairs.
bool ParseKeyForm(std::string_view s, DCB& dcb, Named& named)
{
    while (!s.empty()) {
        const size_t end = s.find_first_of(" \t");
        const std::string_view token = s.substr(0, end);
        s = end == std::string_view::npos ? std::string_view() : Trim(s.substr(end));
        const size_t equals = token.find('=');
        if (equals == std::string_view::npos || !ApplyKey(token.substr(0, equals), token.substr(equals + 1), dcb, named))
            return false;
    }
    return true;
}

// "96,n,8,1[,x|p]": the mode command's positional form; trailing fields may
// be left out.
bool ParsePositionalForm(std::string_view s, DCB& dcb, Named& named)
{
    static constexpr const char* kKeys[] = {"baud", "parity", "data", "stop"};
    int field = 0;
    for (;;) {
        const size_t comma = s.find(',');
        const std::string_view value = Trim(s.substr(0, comma));
        if (field < 4) {
            if (!ApplyKey(kKeys[field], value, dcb, named))
                return false;
        } else if (field == 4 && EqualNoCase(value, "x")) {
            dcb.fOutX = dcb.fInX = 1;
            named.xon = true;
        } else if (field == 4 && EqualNoCase(value, "p")) {
            dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = 1;
            dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
            named.octs = named.odsr = named.dtr = named.rts = true;
        } else {
            return false;
        }
        if (comma == std::string_view::npos)
            return true;
        s.remove_prefix(comma + 1);
        ++field;
    }
}

} // namespace

bool ParseCommDefinition(const char* text, DCB* dcb)
{
    if (!text || !dcb)
        return false;
    std::string_view s = Trim(text);
    // An optional device prefix, "COM1:" or "COM1".
    if (s.size() > 3 && EqualNoCase(s.substr(0, 3), "com") && std::isdigit(static_cast<unsigned char>(s[3]))) {
        size_t i = 3;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
            ++i;
        if (i < s.size() && s[i] == ':')
            ++i;
        else if (i < s.size() && !IsBlank(s[i]))
            return false;
        s = Trim(s.substr(i));
    }
    if (s.empty())
        return false;

    DCB result = *dcb;
    Named named;
    const bool ok = s.find('=') != std::string_view::npos ? ParseKeyForm(s, result, named)
                                                          : ParsePositionalForm(s, result, named);
    if (!ok)
        return false;

    result.fBinary = 1;
    if (named.parity)
        result.fParity = result.Parity != NOPARITY;
    if (named.baud && result.BaudRate == 110 && !named.stop)
        result.StopBits = TWOSTOPBITS;
    // Flow control is off unless the text asks for it.
    if (!named.xon)
        result.fOutX = result.fInX = 0;
    if (!named.octs)
        result.fOutxCtsFlow = 0;
    if (!named.odsr)
        result.fOutxDsrFlow = 0;
    if (!named.rts && result.fRtsControl == RTS_CONTROL_HANDSHAKE)
        result.fRtsControl = RTS_CONTROL_ENABLE;
    if (!named.dtr && result.fDtrControl == DTR_CONTROL_HANDSHAKE)
        result.fDtrControl = DTR_CONTROL_ENABLE;
    *dcb = result;
    return true;
}

bool SpeedFromBaud(DWORD baud, speed_t* speed)
{
    for (const BaudSpeed& entry : kSpeeds)
        if (entry.baud == baud) {
            *speed = entry.speed;
            return true;
        }
    return false;
}

DWORD BaudFromSpeed(speed_t speed)
{
    for (const BaudSpeed& entry : kSpeeds)
        if (entry.speed == speed)
            return entry.baud;
    return 0;
}

DWORD CloseDrainMs(const termios& t, std::uint64_t queued)
{
    const std::uint64_t baud = BaudFromSpeed(cfgetospeed(&t));
    if (baud == 0)
        return 0;
    std::uint64_t data = 8;
    switch (t.c_cflag & CSIZE) {
    case CS5: data = 5; break;
    case CS6: data = 6; break;
    case CS7: data = 7; break;
    default: break;
    }
    // Counted in half bits: two stop bits with five data bits are one and a
    // half on the line.
    const std::uint64_t stopHalves = !(t.c_cflag & CSTOPB) ? 2 : data == 5 ? 3 : 4;
    const std::uint64_t halves = 2 * (1 + data + ((t.c_cflag & PARENB) ? 1 : 0)) + stopHalves;
    const std::uint64_t perSecond = 2 * baud;
    const std::uint64_t ms = (queued * halves * 1000 + perSecond - 1) / perSecond;
    return static_cast<DWORD>(std::min<std::uint64_t>(ms, kCloseDrainCapMs));
}

DWORD TermiosFromDcb(const DCB& dcb, bool hasLine, const termios& base, termios* out)
{
    speed_t speed;
    if (!dcb.fBinary || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY
        || dcb.StopBits > TWOSTOPBITS || !SpeedFromBaud(dcb.BaudRate, &speed))
        return ERROR_INVALID_PARAMETER;
    // 1.5 stop bits exist only with 5 data bits, and 2 only with 6 or more.
    if ((dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) || (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5))
        return ERROR_INVALID_PARAMETER;
    if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar)
        return ERROR_INVALID_PARAMETER;
    // Linux terminals have no DSR flow, DTR handshake or RTS toggling, and no
    // replacement of bad or null bytes; refuse rather than pretend.
    if (dcb.fOutxDsrFlow || dcb.fDsrSensitivity || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE
        || dcb.fRtsControl == RTS_CONTROL_TOGGLE || dcb.fAbortOnError || dcb.fErrorChar || dcb.fNull
        || (dcb.fInX && !dcb.fTXContinueOnXoff))
        return ERROR_NOT_SUPPORTED;

    termios t = base;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON | IXOFF | IXANY
                   | INPCK | IGNPAR | IMAXBEL | IUTF8);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    if (dcb.fOutX)
        t.c_iflag |= IXON;
    if (dcb.fInX)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (dcb.StopBits != ONESTOPBIT)
        t.c_cflag |= CSTOPB;
    if (hasLine) {
        static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        static constexpr tcflag_t kParities[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                                 PARENB | CMSPAR};
        t.c_cflag |= kSizes[dcb.ByteSize - 5] | kParities[dcb.Parity];
        if (dcb.fParity)
            t.c_iflag |= INPCK;
        // Linux ties both directions of hardware flow together.
        if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
            t.c_cflag |= CRTSCTS;
    } else {
        t.c_cflag |= CS8;
    }
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    *out = t;
    return ERROR_SUCCESS;
}

bool HoldsSettings(const termios& asked, const termios& got)
{
    const tcflag_t cflags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    const tcflag_t iflags = INPCK | IXON | IXOFF;
    return cfgetispeed(&asked) == cfgetispeed(&got) && cfgetospeed(&asked) == cfgetospeed(&got)
        && (asked.c_cflag & cflags) == (got.c_cflag & cflags) && (asked.c_iflag & iflags) == (got.c_iflag & iflags);
}

void ModemLinesFromDcb(const DCB& dcb, int* raise, int* drop)
{
    *raise = *drop = 0;
    if (dcb.fRtsControl == RTS_CONTROL_ENABLE)
        *raise |= TIOCM_RTS;
    else if (dcb.fRtsControl == RTS_CONTROL_DISABLE)
        *drop |= TIOCM_RTS;
    if (dcb.fDtrControl == DTR_CONTROL_ENABLE)
        *raise |= TIOCM_DTR;
    else if (dcb.fDtrControl == DTR_CONTROL_DISABLE)
        *drop |= TIOCM_DTR;
}

void DcbFromTermios(const termios& t, bool hasLine, DCB* dcb)
{
    if (const DWORD baud = BaudFromSpeed(cfgetospeed(&t)))
        dcb->BaudRate = baud;
    if (hasLine) {
        switch (t.c_cflag & CSIZE) {
        case CS5: dcb->ByteSize = 5; break;
        case CS6: dcb->ByteSize = 6; break;
        case CS7: dcb->ByteSize = 7; break;
        default: dcb->ByteSize = 8; break;
        }
        if (!(t.c_cflag & PARENB))
            dcb->Parity = NOPARITY;
        else if (t.c_cflag & CMSPAR)
            dcb->Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
        else
            dcb->Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
        dcb->fParity = (t.c_iflag & INPCK) != 0;
        dcb->fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
        dcb->fOutX = (t.c_iflag & IXON) != 0;
        dcb->fInX = (t.c_iflag & IXOFF) != 0;
        dcb->XonChar = static_cast<char>(t.c_cc[VSTART]);
        dcb->XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    }
    if (!(t.c_cflag & CSTOPB))
        dcb->StopBits = ONESTOPBIT;
    else
        dcb->StopBits = dcb->ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
}

DCB InitialDcb(const termios& t)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    // Opening a Linux terminal raises DTR and RTS.
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fTXContinueOnXoff = 1;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 8;
    DcbFromTermios(t, true, &dcb);
    return dcb;
}

DWORD CommEventsBetween(const CommSnapshot& before, const CommSnapshot& after, DWORD mask)
{
    DWORD events = 0;
    if (after.received != before.received)
        events |= EV_RXCHAR;
    if (after.flagChars != before.flagChars)
        events |= EV_RXFLAG;
    if (after.errors & ~before.errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_RXOVER | CE_IOE))
        events |= EV_ERR;
    return events & mask;
}

} // namespace platform
