#include "console/recvdisplay.h"

#include "console/texts.h"

CString RecvCountText(ByteCount nCount)
{
    CString text;
    text.Format(kTextRecvCountFormat, nCount);
    return text;
}

CString RecvByteText(BYTE byte, BOOL bHexDisplay)
{
    CString text;
    if (bHexDisplay)
        text.Format("%02X ", static_cast<unsigned>(byte));
    else
        text.Format("%c", byte);  // ends at its NUL: the byte 0 gives ""
    return text;
}

bool RecvAreaOverLimit(int nLineCount)
{
    return nLineCount > kRecvLineLimit;
}

const char* PauseButtonCaption(BOOL bDisplayPaused)
{
    return bDisplayPaused ? kTextContinueDisplay : kTextStopDisplay;
}
