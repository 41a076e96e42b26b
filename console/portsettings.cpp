#include "console/portsettings.h"

#include "console/leadingint.h"

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
