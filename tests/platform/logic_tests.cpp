// Definition strings, DCB <-> termios, comm events, error texts; events,
// waits and critical sections.
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <termios.h>
#include <thread>

#include "platform/commlogic.h"
#include "platform/errors.h"
#include "platform/winbase.h"

namespace {

DCB Poisoned(int fill)
{
    DCB dcb;
    std::memset(&dcb, fill, sizeof dcb);
    return dcb;
}

bool SameDcb(const DCB& a, const DCB& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct GoodDefinition {
    const char* text;
    DWORD baud;
    int parity, data, stop;  // -1: not named
    bool xon, octs, odsr;
    int rts, dtr;            // -1: untouched
};

// What the text names changes; flow control is switched off unless named;
// everything else keeps the poison it started with.
DCB Expected(const DCB& poison, const GoodDefinition& row)
{
    DCB dcb = poison;
    dcb.BaudRate = row.baud;
    if (row.parity >= 0) {
        dcb.Parity = static_cast<BYTE>(row.parity);
        dcb.fParity = row.parity != NOPARITY;
    }
    if (row.data >= 0)
        dcb.ByteSize = static_cast<BYTE>(row.data);
    if (row.stop >= 0)
        dcb.StopBits = static_cast<BYTE>(row.stop);
    dcb.fBinary = 1;
    dcb.fOutX = dcb.fInX = row.xon;
    dcb.fOutxCtsFlow = row.octs;
    dcb.fOutxDsrFlow = row.odsr;
    if (row.rts >= 0)
        dcb.fRtsControl = static_cast<DWORD>(row.rts);
    if (row.dtr >= 0)
        dcb.fDtrControl = static_cast<DWORD>(row.dtr);
    return dcb;
}

const GoodDefinition kGood[] = {
    {"baud=38400 parity=E data=7 stop=2", 38400, EVENPARITY, 7, TWOSTOPBITS, false, false, false, -1, -1},
    {"baud=300 parity=O data=6 stop=1", 300, ODDPARITY, 6, ONESTOPBIT, false, false, false, -1, -1},
    {"BAUD=1200 Parity=m DATA=5 stop=1.5", 1200, MARKPARITY, 5, ONE5STOPBITS, false, false, false, -1, -1},
    {"stop=2 data=8 parity=s baud=115200", 115200, SPACEPARITY, 8, TWOSTOPBITS, false, false, false, -1, -1},
    {"COM3: baud=96 parity=n data=8 stop=1", 9600, NOPARITY, 8, ONESTOPBIT, false, false, false, -1, -1},
    {"com12 baud=19", 19200, -1, -1, -1, false, false, false, -1, -1},
    {"  baud=2400 \t data=8  ", 2400, -1, 8, -1, false, false, false, -1, -1},
    {"baud=110", 110, -1, -1, TWOSTOPBITS, false, false, false, -1, -1},
    {"baud=110 stop=1", 110, -1, -1, ONESTOPBIT, false, false, false, -1, -1},
    {"baud=9600 xon=on octs=on rts=hs", 9600, -1, -1, -1, true, true, false, RTS_CONTROL_HANDSHAKE, -1},
    {"baud=9600 odsr=on dtr=hs", 9600, -1, -1, -1, false, false, true, -1, DTR_CONTROL_HANDSHAKE},
    {"baud=4800 dtr=off rts=on", 4800, -1, -1, -1, false, false, false, RTS_CONTROL_ENABLE, DTR_CONTROL_DISABLE},
    {"baud=4800 rts=tg xon=off", 4800, -1, -1, -1, false, false, false, RTS_CONTROL_TOGGLE, -1},
    {"96,n,8,1", 9600, NOPARITY, 8, ONESTOPBIT, false, false, false, -1, -1},
    {"COM1: 19200,E,7,2,x", 19200, EVENPARITY, 7, TWOSTOPBITS, true, false, false, -1, -1},
    {"57600, o , 8", 57600, ODDPARITY, 8, -1, false, false, false, -1, -1},
    {"9600,n,8,1,p", 9600, NOPARITY, 8, ONESTOPBIT, false, true, true, RTS_CONTROL_HANDSHAKE,
     DTR_CONTROL_HANDSHAKE},
};

TEST(BuildCommDCB, AppliesExactlyWhatTheTextNames)
{
    // The third start has handshakes left from before, and an event character.
    DCB handshaking = Poisoned(0);
    handshaking.fRtsControl = RTS_CONTROL_HANDSHAKE;
    handshaking.fDtrControl = DTR_CONTROL_HANDSHAKE;
    handshaking.EvtChar = 'q';
    for (const DCB& poison : {Poisoned(0x00), Poisoned(0xFF), handshaking}) {
        for (const GoodDefinition& row : kGood) {
            SCOPED_TRACE(testing::Message() << '"' << row.text << "\" over " << int(poison.fRtsControl));
            DCB dcb = poison;
            SetLastError(0xdeadbeef);
            ASSERT_TRUE(BuildCommDCBA(row.text, &dcb));
            EXPECT_EQ(GetLastError(), 0xdeadbeefu) << "success must not touch the last error";
            DCB expected = Expected(poison, row);
            // A handshake left from before is switched to plain "on".
            if (row.rts < 0 && poison.fRtsControl == RTS_CONTROL_HANDSHAKE)
                expected.fRtsControl = RTS_CONTROL_ENABLE;
            if (row.dtr < 0 && poison.fDtrControl == DTR_CONTROL_HANDSHAKE)
                expected.fDtrControl = DTR_CONTROL_ENABLE;
            EXPECT_TRUE(SameDcb(dcb, expected));
        }
    }
}

TEST(BuildCommDCB, RefusesBadTextsAndLeavesTheDcbAlone)
{
    const char* bad[] = {
        nullptr, "", "   ", "baud=", "baud=abc", "baud=0", "baud=99999999999", "baud=-9600", "parity=x", "parity=NN",
        "data=4", "data=9", "data=", "stop=3", "stop=1.0", "stop=0", "baud=9600 baud=4800", "speed=9600",
        "baud 9600", "baud=9600,parity=n", "xon=maybe", "rts=xx", "dtr=tg", "9600,n,8,1,z", "9600,n,8,1,x,1",
        "9600,,8,1", "9600;n;8;1", "COM1", "COM1:", "COMx: baud=9600", "COM1:baud=9600 =", "baud=9600 =",
        "baud=9600 data=8 extra",
    };
    for (int fill : {0x00, 0xFF}) {
        for (const char* text : bad) {
            SCOPED_TRACE(testing::Message() << '"' << text << "\" over 0x" << std::hex << fill);
            const DCB poison = Poisoned(fill);
            DCB dcb = poison;
            SetLastError(0xdeadbeef);
            EXPECT_FALSE(BuildCommDCBA(text, &dcb));
            EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
            EXPECT_TRUE(SameDcb(dcb, poison));
        }
    }
}

// A DCB as GetCommState gives one, to be changed by each case.
DCB Plain()
{
    termios t{};
    cfsetspeed(&t, B9600);
    t.c_cflag = CS8;
    return platform::InitialDcb(t);
}

termios Cooked()
{
    // Everything a terminal might have on that a port must not.
    termios t{};
    t.c_iflag = ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXANY | BRKINT | PARMRK | IMAXBEL | IUTF8;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    t.c_cflag = CS7 | PARENB | CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 5;
    return t;
}

TEST(TermiosFromDcb, LineFormatRoundTripsOnALine)
{
    static constexpr DWORD kBauds[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 115200};
    for (DWORD baud : kBauds)
        for (BYTE data = 5; data <= 8; ++data)
            for (BYTE parity = NOPARITY; parity <= SPACEPARITY; ++parity)
                for (BYTE stop : {BYTE{ONESTOPBIT}, BYTE{ONE5STOPBITS}, BYTE{TWOSTOPBITS}}) {
                    if ((stop == ONE5STOPBITS && data != 5) || (stop == TWOSTOPBITS && data == 5))
                        continue; // refused, tested below
                    SCOPED_TRACE(testing::Message() << baud << ' ' << int(data) << ' ' << int(parity) << ' '
                                                    << int(stop));
                    DCB dcb = Plain();
                    dcb.BaudRate = baud;
                    dcb.ByteSize = data;
                    dcb.Parity = parity;
                    dcb.fParity = parity != NOPARITY;
                    dcb.StopBits = stop;
                    termios t;
                    ASSERT_EQ(platform::TermiosFromDcb(dcb, true, Cooked(), &t), ERROR_SUCCESS);
                    DCB back = Plain();
                    platform::DcbFromTermios(t, true, &back);
                    EXPECT_TRUE(SameDcb(back, dcb));
                }
}

// Raw bytes, and a device without a line given none of the line format but
// its record of it, are what every port test on a pseudo-terminal stands on:
// the engine's tests open with every setting of the lists and pass every byte
// value through.

TEST(TermiosFromDcb, RefusesWhatNoPortCanDoAndWhatLinuxCannot)
{
    const struct { const char* what; void (*change)(DCB&); DWORD error; } cases[] = {
        {"4 data bits", [](DCB& d) { d.ByteSize = 4; }, ERROR_INVALID_PARAMETER},
        {"parity 5", [](DCB& d) { d.Parity = 5; }, ERROR_INVALID_PARAMETER},
        {"1.5 stop bits with 8 data", [](DCB& d) { d.StopBits = ONE5STOPBITS; }, ERROR_INVALID_PARAMETER},
        {"2 stop bits with 5 data", [](DCB& d) { d.ByteSize = 5; d.StopBits = TWOSTOPBITS; }, ERROR_INVALID_PARAMETER},
        {"no such speed", [](DCB& d) { d.BaudRate = 12345; }, ERROR_INVALID_PARAMETER},
        {"text mode", [](DCB& d) { d.fBinary = 0; }, ERROR_INVALID_PARAMETER},
        {"xon equals xoff", [](DCB& d) { d.fInX = 1; d.XonChar = d.XoffChar = 0x11; }, ERROR_INVALID_PARAMETER},
        {"dsr flow", [](DCB& d) { d.fOutxDsrFlow = 1; }, ERROR_NOT_SUPPORTED},
        {"rts toggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }, ERROR_NOT_SUPPORTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DCB dcb = Plain();
        c.change(dcb);
        termios t{};
        EXPECT_EQ(platform::TermiosFromDcb(dcb, true, Cooked(), &t), c.error);
    }
}

TEST(TermiosFromDcb, ReadBackSeesDroppedSettings)
{
    DCB dcb = Plain();
    dcb.ByteSize = 5;
    dcb.Parity = ODDPARITY;
    termios asked;
    ASSERT_EQ(platform::TermiosFromDcb(dcb, true, Cooked(), &asked), ERROR_SUCCESS);
    EXPECT_TRUE(platform::HoldsSettings(asked, asked));
    // What a terminal that cannot do 5 bits, odd parity or the speed keeps instead.
    for (void (*drop)(termios&) : {+[](termios& t) { t.c_cflag = (t.c_cflag & ~CSIZE) | CS8; },
                                   +[](termios& t) { t.c_cflag &= ~PARODD; },
                                   +[](termios& t) { cfsetospeed(&t, B4800); }}) {
        termios kept = asked;
        drop(kept);
        EXPECT_FALSE(platform::HoldsSettings(asked, kept));
    }
}

TEST(CloseDrain, IsTheLinesTimeForWhatIsQueuedAndBounded)
{
    const struct { const char* what; speed_t speed; tcflag_t format; std::uint64_t queued; DWORD ms; } rows[] = {
        {"nothing queued", B9600, CS8, 0, 0},
        {"8N1, ten bits a byte", B9600, CS8, 96, 100},
        {"a part of a millisecond counts whole", B9600, CS8, 1, 2},
        {"7E2, eleven bits a byte", B1200, CS7 | PARENB | CSTOPB, 12, 110},
        {"5 bits with one and a half stop bits", B2400, CS5 | CSTOPB, 32, 100},
        {"6O1", B38400, CS6 | PARENB | PARODD, 384, 90},
        {"a slow line is cut short", B300, CS8, 4096, platform::kCloseDrainCapMs},
        {"no speed, no line", B0, CS8, 4096, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        termios t{};
        t.c_cflag = row.format;
        cfsetspeed(&t, row.speed);
        EXPECT_EQ(platform::CloseDrainMs(t, row.queued), row.ms);
    }
}

TEST(CommEvents, AreTheMaskedDifferenceOfTwoSnapshots)
{
    const struct { const char* what; platform::CommSnapshot before, after; DWORD mask, events; } rows[] = {
        {"nothing new", {5, 1, 0}, {5, 1, 0}, EV_RXCHAR | EV_RXFLAG | EV_ERR, 0},
        {"bytes", {5, 1, 0}, {8, 1, 0}, EV_RXCHAR | EV_RXFLAG, EV_RXCHAR},
        {"bytes with the event character", {5, 1, 0}, {8, 2, 0}, EV_RXCHAR | EV_RXFLAG, EV_RXCHAR | EV_RXFLAG},
        {"event character, masked out", {5, 1, 0}, {8, 2, 0}, EV_RXCHAR, EV_RXCHAR},
        {"bytes, not asked for", {5, 1, 0}, {8, 2, 0}, EV_ERR, 0},
        {"device gone", {5, 1, 0}, {5, 1, CE_IOE}, EV_RXCHAR | EV_ERR, EV_ERR},
        {"old error is no event", {5, 1, CE_IOE}, {5, 1, CE_IOE}, EV_ERR, 0},
        {"break alone is no error", {5, 1, 0}, {5, 1, CE_BREAK}, EV_ERR, 0},
        {"overrun", {5, 1, 0}, {5, 1, CE_OVERRUN}, EV_ERR, EV_ERR},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(platform::CommEventsBetween(row.before, row.after, row.mask), row.events);
    }
}

TEST(Errors, EveryCodeTheLayerGivesHasASystemTextAndAnUnknownOneNone)
{
    // Whatever errno a call meets, the report box has a text to show.
    for (int error = 1; error < 134; ++error) {
        const DWORD code = platform::ErrorFromErrno(error);
        char* text = nullptr;
        const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                            code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                            reinterpret_cast<LPSTR>(&text), 0, nullptr);
        ASSERT_GT(length, 2u) << "errno " << error << " -> " << code;
        EXPECT_EQ(std::strlen(text), length);
        EXPECT_EQ(std::string(text + length - 2), "\r\n");
        EXPECT_EQ(LocalFree(text), nullptr);
    }
    // The report box falls back to the number when there is no text.
    char buffer[256];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x12345, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, buffer, sizeof buffer,
                             nullptr),
              19u);
    EXPECT_STREQ(buffer, "Access is denied.\r\n");
}

TEST(Errors, LastErrorBelongsToEachThread)
{
    SetLastError(ERROR_BUSY);
    DWORD other = 0;
    std::thread([&] {
        SetLastError(ERROR_ACCESS_DENIED);
        other = GetLastError();
    }).join();
    EXPECT_EQ(other, ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetLastError(), ERROR_BUSY);
}

TEST(Events, ManualStaysSignalledAutoReleasesOneWaitLowestIndexWins)
{
    HANDLE events[3] = {CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr),
                        CreateEventA(nullptr, FALSE, TRUE, nullptr)};
    EXPECT_EQ(WaitForSingleObject(events[2], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(events[2], 0), WAIT_TIMEOUT) << "an auto-reset event releases one wait";
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(events[1]));
    ASSERT_TRUE(SetEvent(events[1])); // setting twice is still one signalled state
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, INFINITE), WAIT_OBJECT_0) << "a manual event stays set";
    ASSERT_TRUE(ResetEvent(events[0]));
    ASSERT_TRUE(ResetEvent(events[1]));
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);

    // Another thread wakes a wait without time limit.
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] { result = WaitForMultipleObjects(2, events, FALSE, INFINITE); });
    SetEvent(events[1]);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0 + 1);
    for (HANDLE e : events)
        EXPECT_TRUE(CloseHandle(e));
}

TEST(Events, BadHandlesAndArgumentsAreRefused)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    for (HANDLE bad : {event, reinterpret_cast<HANDLE>(0x7777), INVALID_HANDLE_VALUE}) {
        SetLastError(0);
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
        EXPECT_FALSE(CloseHandle(bad));
    }
    HANDLE live = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(0, &live, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(1, &live, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    CloseHandle(live);
}

TEST(CriticalSection, HolderMayEnterAgainOthersWait)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    std::atomic<bool> entered{false};
    std::thread other([&] {
        EnterCriticalSection(&cs);
        entered = true;
        LeaveCriticalSection(&cs);
    });
    LeaveCriticalSection(&cs);
    EXPECT_FALSE(entered.load()) << "still held once";
    LeaveCriticalSection(&cs);
    other.join();
    EXPECT_TRUE(entered.load());
    DeleteCriticalSection(&cs);
}

} // namespace
