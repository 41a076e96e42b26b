#include "console/portview.h"

#include "console/texts.h"

PortView PortViewOf(PortPhase phase, const CString& strSettings)
{
    const PortLamp closed{false, kTextPortClosed};
    switch (phase) {
    case PortPhase::ClosedAtStartUp:
        return {closed, CString(kTextOpenPort), kTextPortClosed, kTextStatusInit};
    case PortPhase::ClosedByClosing:
        return {closed, CString(kTextOpenPort), kTextPortClosed, kTextPortClosedStatus, true};
    case PortPhase::OpenFailed:
        return {closed, std::nullopt, kTextPortOpenFailed, kTextPortOpenFailedStatus};
    case PortPhase::ThreadFailed:
        return {std::nullopt, std::nullopt, kTextThreadFailed, kTextThreadFailedStatus};
    case PortPhase::Open:
        return {PortLamp{true, kTextPortOpenStatus + strSettings}, CString(kTextClosePort),
                kTextPortOpenLabel + strSettings, kTextPortOpenStatus + strSettings};
    }
    return {};
}
