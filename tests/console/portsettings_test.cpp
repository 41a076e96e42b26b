#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/portsettings.h"
#include "console/texts.h"
#include "tests/support/gbk.h"

namespace {

struct SettingsRow {
    const char* name;
    PortListSelection selection;
    const char* text;
};

TEST(PortSettings, ListSelectionsGiveTheSettingsText)
{
    // Selections as positions and item texts of the real lists.
    const SettingsRow rows[] = {
        {"defaults", {0, kBaudItems[5], 0, kDataBitsItems[0], kStopBitsItems[0]}, "1.9600.N.8.1"},
        {"com3_even", {2, kBaudItems[7], 2, kDataBitsItems[1], kStopBitsItems[1]}, "3.38400.E.7.2"},
        {"com4_odd", {3, kBaudItems[0], 1, kDataBitsItems[2], kStopBitsItems[0]}, "4.300.O.6.1"},
    };
    for (const SettingsRow& row : rows) {
        SCOPED_TRACE(row.name);
        // A poisoned previous letter shows whether the parity position was used.
        const PortSettings settings = PortSettingsFromLists(row.selection, '?');
        EXPECT_EQ(PortSettingsText(settings).bytes(), row.text);
    }
}

TEST(PortSettings, NumbersAreReadAsAtoiDoesAndUnknownParityKeepsTheLetter)
{
    const PortSettings settings = PortSettingsFromLists({1, " 19200x", 7, "7 bits", "two"}, 'E');
    EXPECT_EQ(settings.nPortNumber, 2);
    EXPECT_EQ(settings.nBaudRate, 19200);
    EXPECT_EQ(settings.chParity, 'E');
    EXPECT_EQ(settings.nDataBits, 7);
    EXPECT_EQ(settings.nStopBits, 0);
    EXPECT_EQ(PortSettingsFromLists({0, "99999999999", -1, "", "-2"}, 'O').nBaudRate, 2147483647);
    EXPECT_EQ(PortSettingsFromLists({0, "", -1, "", "-2"}, 'O').chParity, 'O');
    EXPECT_EQ(PortSettingsFromLists({0, "", -1, "", "-2"}, 'O').nStopBits, -2);
}

// Records the engine calls a press makes, in order, and answers them.
struct EngineScript {
    BOOL openResult = TRUE;
    BOOL startResult = TRUE;
    std::vector<std::string> calls;

    PortEngineCalls Calls()
    {
        return {
            [this] { calls.push_back("SignalStop"); },
            [this] { calls.push_back("ReadSettings"); return CString("1.9600.N.8.1"); },
            [this] { calls.push_back("Open"); return openResult; },
            [this] { calls.push_back("StartMonitor"); return startResult; },
        };
    }
};

std::vector<std::string> Describe(const std::vector<PortIndicatorChange>& changes)
{
    std::vector<std::string> out;
    for (const PortIndicatorChange& change : changes) {
        const std::string text = Utf8FromGbk(change.text.bytes()).value_or("<not GBK>");
        switch (change.what) {
        case PortIndicator::LampOpen: out.push_back("lamp open " + text); break;
        case PortIndicator::LampClosed: out.push_back("lamp closed " + text); break;
        case PortIndicator::Caption: out.push_back("caption " + text); break;
        case PortIndicator::StatusText: out.push_back("status " + text); break;
        case PortIndicator::StateLabel: out.push_back("label " + text); break;
        case PortIndicator::UncheckAutoSend: out.push_back("uncheck auto-send"); break;
        case PortIndicator::KillAutoSendTimer: out.push_back("kill timer"); break;
        }
    }
    return out;
}

struct StateRow {
    const char* name;
    BOOL bPortOpen;
    PortEvent event;
    BOOL openResult;
    BOOL startResult;
    BOOL bPortOpenAfter;
    bool setsEventMask;
    std::vector<std::string> calls;
    std::vector<std::string> changes;
};

TEST(PortState, EveryTransitionInItsStepOrder)
{
    const StateRow rows[] = {
        {"open_fails", FALSE, PortEvent::ButtonPressed, FALSE, TRUE, FALSE, true,
         {"ReadSettings", "Open"},
         {"lamp closed  串口关闭状态", "label  串口无法开启", "status  串口无法开启,请检查串口设备状态"}},
        {"thread_fails", FALSE, PortEvent::ButtonPressed, TRUE, FALSE, FALSE, true,
         {"ReadSettings", "Open", "StartMonitor"},
         {"label  线程启动失败", "status  线程启动失败,请重新启动本程序"}},
        {"opens", FALSE, PortEvent::ButtonPressed, TRUE, TRUE, TRUE, true,
         {"ReadSettings", "Open", "StartMonitor"},
         {"lamp open  串口开启状态  Com1.9600.N.8.1", "status  串口开启状态  Com1.9600.N.8.1", "label Com1.9600.N.8.1",
          "caption 关闭串口"}},
        {"closes", TRUE, PortEvent::ButtonPressed, TRUE, TRUE, FALSE, true,
         {"SignalStop"},
         {"lamp closed  串口关闭状态", "caption 打开串口", "status  串口关闭状态,不能进行串口操作",
          "uncheck auto-send", "kill timer", "label  串口关闭状态"}},
        {"destroyed_closed", FALSE, PortEvent::Destroyed, TRUE, TRUE, FALSE, false,
         {"SignalStop"}, {}},
        {"destroyed_open", TRUE, PortEvent::Destroyed, TRUE, TRUE, TRUE, false,
         {"SignalStop"}, {}},
    };
    for (const StateRow& row : rows) {
        SCOPED_TRACE(row.name);
        EngineScript engine;
        engine.openResult = row.openResult;
        engine.startResult = row.startResult;
        const PortEventOutcome outcome = OnPortEvent(row.bPortOpen, row.event, engine.Calls());
        EXPECT_EQ(outcome.bPortOpen, row.bPortOpenAfter);
        EXPECT_EQ(outcome.dwEventMask.has_value(), row.setsEventMask);
        EXPECT_EQ(outcome.dwEventMask.value_or(3u), 3u);
        EXPECT_EQ(engine.calls, row.calls);
        EXPECT_EQ(Describe(outcome.changes), row.changes);
    }
}

TEST(PortState, AFailedOpeningIsRetriedInFullByTheNextPress)
{
    EngineScript engine;
    engine.startResult = FALSE;
    BOOL bPortOpen = OnPortEvent(FALSE, PortEvent::ButtonPressed, engine.Calls()).bPortOpen;
    engine.startResult = TRUE;
    bPortOpen = OnPortEvent(bPortOpen, PortEvent::ButtonPressed, engine.Calls()).bPortOpen;
    EXPECT_TRUE(bPortOpen);
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"ReadSettings", "Open", "StartMonitor",
                                                      "ReadSettings", "Open", "StartMonitor"}));
}

} // namespace
