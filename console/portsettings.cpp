#include "console/portsettings.h"

#include "console/leadingint.h"
#include "console/texts.h"

PortSettings PortSettingsFromLists(const PortListSelection& selection, char chPreviousParity)
{
    static constexpr char kParityLetters[] = {'N', 'O', 'E'};
    PortSettings settings;
    settings.nPortNumber = selection.nPortIndex + 1;
    settings.nBaudRate = LeadingInt(selection.strBaud);
    settings.chParity = chPreviousParity;
    if (selection.nParityIndex >= 0 && selection.nParityIndex < 3)
        settings.chParity = kParityLetters[selection.nParityIndex];
    settings.nDataBits = LeadingInt(selection.strDataBits);
    settings.nStopBits = LeadingInt(selection.strStopBits);
    return settings;
}

CString PortSettingsText(const PortSettings& settings)
{
    CString text;
    text.Format("%d.%d.%c.%d.%d", settings.nPortNumber, settings.nBaudRate, settings.chParity,
                settings.nDataBits, settings.nStopBits);
    return text;
}

namespace {

PortEventOutcome Closing(const PortEngineCalls& engine)
{
    engine.signalStop();
    PortEventOutcome outcome;
    outcome.bPortOpen = FALSE;
    outcome.changes = {
        {PortIndicator::LampClosed, kTextPortClosed},
        {PortIndicator::Caption, kTextOpenPort},
        {PortIndicator::StatusText, kTextPortClosedStatus},
        {PortIndicator::UncheckAutoSend, {}},
        {PortIndicator::KillAutoSendTimer, {}},
        {PortIndicator::StateLabel, kTextPortClosed},
    };
    return outcome;
}

PortEventOutcome Opening(const PortEngineCalls& engine)
{
    const CString settingsText = engine.readSettings();
    PortEventOutcome outcome;
    if (!engine.open()) {
        // The caption is not touched: it already offers to open.
        outcome.bPortOpen = FALSE;
        outcome.changes = {
            {PortIndicator::LampClosed, kTextPortClosed},
            {PortIndicator::StateLabel, kTextPortOpenFailed},
            {PortIndicator::StatusText, kTextPortOpenFailedStatus},
        };
        return outcome;
    }
    if (!engine.startMonitor()) {
        // The engine keeps the handle; the next press opens it again from scratch.
        outcome.bPortOpen = FALSE;
        outcome.changes = {
            {PortIndicator::StateLabel, kTextThreadFailed},
            {PortIndicator::StatusText, kTextThreadFailedStatus},
        };
        return outcome;
    }
    outcome.bPortOpen = TRUE;
    outcome.changes = {
        {PortIndicator::LampOpen, kTextPortOpenStatus + settingsText},
        {PortIndicator::StatusText, kTextPortOpenStatus + settingsText},
        {PortIndicator::StateLabel, kTextPortOpenLabel + settingsText},
        {PortIndicator::Caption, kTextClosePort},
    };
    return outcome;
}

} // namespace

PortEventOutcome OnPortEvent(BOOL bPortOpen, PortEvent event, const PortEngineCalls& engine)
{
    if (event == PortEvent::Destroyed) {
        // Whatever the state, the monitor thread is told to end; nothing shown changes.
        engine.signalStop();
        PortEventOutcome outcome;
        outcome.bPortOpen = bPortOpen;
        return outcome;
    }
    PortEventOutcome outcome = bPortOpen ? Closing(engine) : Opening(engine);
    outcome.dwEventMask = kPortEventMask;
    return outcome;
}
