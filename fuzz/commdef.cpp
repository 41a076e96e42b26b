// The line definition string (BuildCommDCB's text). A text is parsed into a
// DCB filled with 0x00 and into one filled with 0xFF: both succeed or both
// fail; a failure leaves the DCB as it was; a success changes nothing but
// the fields a definition sets. A success is checked as a round trip: the
// DCB written out as a definition parses again, to the same settings, and
// writing that out once more changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/check.h"
#include "platform/commlogic.h"

namespace {

const char* OnOff(unsigned on)
{
    return on ? "on" : "off";
}

// The definition of what `dcb` holds, leaving out what no definition can say
// (a baud rate of 0, a poisoned parity): those fields keep what a base had.
std::string Definition(const DCB& dcb)
{
    static const char kParity[] = "noems";
    static const char* const kStop[] = {"1", "1.5", "2"};
    static const char* const kDtr[] = {"off", "on", "hs", nullptr};
    static const char* const kRts[] = {"off", "on", "hs", "tg"};
    static const DWORD kAbbreviated[] = {11, 15, 30, 60, 12, 24, 48, 96, 19};
    std::string text = "COM1:";
    bool abbreviated = false;
    for (DWORD written : kAbbreviated)
        abbreviated = abbreviated || dcb.BaudRate == written;
    if (dcb.BaudRate != 0 && !abbreviated)
        text += " baud=" + std::to_string(dcb.BaudRate);
    if (dcb.Parity <= SPACEPARITY)
        text += std::string(" parity=") + kParity[dcb.Parity];
    if (dcb.ByteSize >= 5 && dcb.ByteSize <= 8)
        text += " data=" + std::to_string(dcb.ByteSize);
    if (dcb.StopBits <= TWOSTOPBITS)
        text += std::string(" stop=") + kStop[dcb.StopBits];
    text += std::string(" xon=") + OnOff(dcb.fOutX) + " odsr=" + OnOff(dcb.fOutxDsrFlow) + " octs="
        + OnOff(dcb.fOutxCtsFlow) + " idsr=" + OnOff(dcb.fDsrSensitivity);
    if (kDtr[dcb.fDtrControl])
        text += std::string(" dtr=") + kDtr[dcb.fDtrControl];
    text += std::string(" rts=") + kRts[dcb.fRtsControl];
    return text;
}

DCB Filled(int byte)
{
    DCB dcb;
    std::memset(&dcb, byte, sizeof dcb);
    return dcb;
}

// The fields no definition sets, as bytes: each must stay as the base had it.
bool UntouchedAgree(const DCB& a, const DCB& b)
{
    return a.DCBlength == b.DCBlength && a.fTXContinueOnXoff == b.fTXContinueOnXoff && a.fErrorChar == b.fErrorChar
        && a.fNull == b.fNull && a.fAbortOnError == b.fAbortOnError && a.fDummy2 == b.fDummy2
        && a.wReserved == b.wReserved && a.XonLim == b.XonLim && a.XoffLim == b.XoffLim && a.XonChar == b.XonChar
        && a.XoffChar == b.XoffChar && a.ErrorChar == b.ErrorChar && a.EofChar == b.EofChar
        && a.EvtChar == b.EvtChar && a.wReserved1 == b.wReserved1;
}

bool SameSettings(const DCB& a, const DCB& b)
{
    return a.BaudRate == b.BaudRate && a.Parity == b.Parity && a.ByteSize == b.ByteSize && a.StopBits == b.StopBits
        && a.fBinary == b.fBinary && a.fOutX == b.fOutX && a.fInX == b.fInX && a.fOutxDsrFlow == b.fOutxDsrFlow
        && a.fOutxCtsFlow == b.fOutxCtsFlow && a.fDsrSensitivity == b.fDsrSensitivity
        && a.fDtrControl == b.fDtrControl && a.fRtsControl == b.fRtsControl;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    // The text ends at its first NUL, as a C string does.
    const std::string text(reinterpret_cast<const char*>(data), size);
    bool parsed[2];
    DCB result[2];
    for (int poison : {0, 1}) {
        const DCB base = Filled(poison ? 0xFF : 0x00);
        DCB dcb = base;
        parsed[poison] = platform::ParseCommDefinition(text.c_str(), &dcb);
        result[poison] = dcb;
        if (!parsed[poison]) {
            FUZZ_CHECK(std::memcmp(&dcb, &base, sizeof dcb) == 0, "a refused text changed the DCB");
            continue;
        }
        FUZZ_CHECK(UntouchedAgree(dcb, base), "the text changed a field no definition sets");
        FUZZ_CHECK(dcb.fBinary == 1 && dcb.fOutX == dcb.fInX, "binary mode or both directions of XON/XOFF");

        const std::string again = Definition(dcb);
        DCB round = base;
        FUZZ_CHECK(platform::ParseCommDefinition(again.c_str(), &round), "refused its own definition: %s",
                   again.c_str());
        FUZZ_CHECK(SameSettings(round, dcb), "settings differ after the round trip of %s", again.c_str());
        DCB twice = base;
        FUZZ_CHECK(platform::ParseCommDefinition(Definition(round).c_str(), &twice), "refused its own definition");
        FUZZ_CHECK(std::memcmp(&twice, &round, sizeof twice) == 0, "a second round trip changed the DCB");
    }
    FUZZ_CHECK(parsed[0] == parsed[1], "whether a text is taken depends on the DCB it is applied to");
    return 0;
}
