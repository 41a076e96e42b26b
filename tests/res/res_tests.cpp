// Checks the resource tables as the framework will read them: every text is
// code page 936, every icon is a well-formed 16-colour XPM, the main dialog's
// ids and tab order are right, and every control lies inside its dialog.
#include <gtest/gtest.h>

#include <iconv.h>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "framework/cstring.h"
#include "framework/winuser.h"
#include "res/resource.h"

namespace {

const AfxResourceModule& kModule = g_tavrinResources;

// Decodes code page 936 bytes to UTF-8; fails on any sequence GBK does not define.
::testing::AssertionResult decodeGbk(const char* bytes, std::string* utf8 = nullptr)
{
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return ::testing::AssertionFailure() << "iconv has no GBK converter";
    std::string in(bytes), out(in.size() * 3, '\0');
    char *inPtr = in.data(), *outPtr = out.data();
    size_t inLeft = in.size(), outLeft = out.size();
    size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1))
        return ::testing::AssertionFailure() << "not GBK from byte " << (in.size() - inLeft);
    if (utf8)
        *utf8 = out.substr(0, out.size() - outLeft);
    return ::testing::AssertionSuccess();
}

std::string utf8Of(const char* gbk)
{
    std::string utf8;
    EXPECT_TRUE(decodeGbk(gbk, &utf8));
    return utf8;
}

class Resources : public ::testing::Test {
protected:
    void SetUp() override { AfxSetResources(&g_tavrinResources); }
    void TearDown() override { AfxSetResources(nullptr); }
};

TEST_F(Resources, EveryIdIsFoundOnce)
{
    for (UINT id : {IDD_ABOUT, IDD_MAIN, IDD_HELP})
        EXPECT_NE(AfxFindDialogResource(id), nullptr) << id;
    for (UINT id : {IDI_MAINFRAME, IDI_PORT_CLOSED})
        EXPECT_NE(AfxFindIconResource(id), nullptr) << id;
    CString about;
    EXPECT_TRUE(about.LoadString(IDS_ABOUTBOX));
    const AfxMenuResource* menu = AfxFindMenuResource(IDR_ABOUT_MENU);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->itemCount, 1);
    EXPECT_EQ(menu->items[0].command, static_cast<UINT>(ID_APP_ABOUT_MENU));

    // A repeated id would hide the later entry from every lookup.
    std::set<UINT> dialogs, icons;
    for (int i = 0; i < kModule.dialogCount; ++i)
        EXPECT_TRUE(dialogs.insert(kModule.dialogs[i].id).second) << kModule.dialogs[i].id;
    for (int i = 0; i < kModule.iconCount; ++i)
        EXPECT_TRUE(icons.insert(kModule.icons[i].id).second) << kModule.icons[i].id;
}

TEST_F(Resources, EveryTextIsCodePage936)
{
    std::vector<const char*> texts;
    for (const AfxDlgTemplate& dlg : std::span(kModule.dialogs, kModule.dialogCount)) {
        texts.insert(texts.end(), {dlg.caption, dlg.fontFace});
        for (int i = 0; i < dlg.itemCount; ++i)
            texts.push_back(dlg.items[i].text);
    }
    for (int i = 0; i < kModule.stringCount; ++i)
        texts.push_back(kModule.strings[i].text);
    for (int m = 0; m < kModule.menuCount; ++m)
        for (int i = 0; i < kModule.menus[m].itemCount; ++i)
            texts.push_back(kModule.menus[m].items[i].text);
    for (const char* text : texts) {
        ASSERT_NE(text, nullptr);
        EXPECT_TRUE(decodeGbk(text));
    }

    // Texts compiled as UTF-8 by mistake can still decode as GBK, as nonsense;
    // these show that the bytes are the characters meant.
    EXPECT_EQ(utf8Of(AfxFindDialogResource(IDD_MAIN)->fontFace), "宋体");
    EXPECT_EQ(utf8Of(AfxFindStringResource(IDS_ABOUTBOX)), "关于Tavrin...");
    EXPECT_EQ(utf8Of(AfxFindMenuResource(IDR_ABOUT_MENU)->items[0].text), "关于");
    EXPECT_EQ(utf8Of(AfxFindDialogResource(IDD_HELP)->caption), "Tavrin使用帮助");
    EXPECT_EQ(utf8Of(AfxFindDialogResource(IDD_MAIN)->caption).rfind("Tavrin - ", 0), 0u);
}

const std::set<std::string> kClassicPalette = {
    "#000000", "#800000", "#008000", "#808000", "#000080", "#800080", "#008080", "#C0C0C0",
    "#808080", "#FF0000", "#00FF00", "#FFFF00", "#0000FF", "#FF00FF", "#00FFFF", "#FFFFFF",
};

// Parses an XPM as the framework's image reader will, failing on anything it
// would reject or draw wrongly. Collects the colours of the drawn pixels.
::testing::AssertionResult parseXpm(const char* const* xpm, int size, std::set<std::string>* drawn)
{
    std::istringstream header(xpm && xpm[0] ? xpm[0] : "");
    int width = 0, height = 0, colours = 0, charsPerPixel = 0;
    std::string extra;
    if (!(header >> width >> height >> colours >> charsPerPixel) || (header >> extra) || width != size ||
        height != size || charsPerPixel != 1 || colours < 1)
        return ::testing::AssertionFailure() << "header \"" << (xpm ? xpm[0] : "") << "\"";

    std::string table[256];
    int opaque = 0;
    for (int i = 1; i <= colours; ++i) {
        std::string line = xpm[i] ? xpm[i] : "";
        std::istringstream in(line.size() > 2 && line[1] == ' ' ? line.substr(2) : "");
        std::string key, value;
        if (!(in >> key >> value) || key != "c" || (in >> extra) || !table[static_cast<unsigned char>(line[0])].empty())
            return ::testing::AssertionFailure() << "colour line \"" << line << "\"";
        if (value != "None" && !kClassicPalette.count(value))
            return ::testing::AssertionFailure() << value << " is not a classic colour";
        opaque += value != "None";
        table[static_cast<unsigned char>(line[0])] = value;
    }
    if (opaque > 16)
        return ::testing::AssertionFailure() << opaque << " colours";

    for (int y = 0; y < height; ++y) {
        std::string row = xpm[1 + colours + y] ? xpm[1 + colours + y] : "";
        if (static_cast<int>(row.size()) != width)
            return ::testing::AssertionFailure() << "row " << y << " is not " << width << " pixels";
        for (int x = 0; x < width; ++x) {
            const std::string& colour = table[static_cast<unsigned char>(row[x])];
            if (colour.empty())
                return ::testing::AssertionFailure() << "pixel '" << row[x] << "' at " << x << "," << y;
            if (colour != "None")
                drawn->insert(colour);
        }
    }
    return ::testing::AssertionSuccess();
}

TEST_F(Resources, IconsAreSixteenColourXpmsInBothSizes)
{
    // The open port's lamp is green, the closed port's red; swapped, the lamp would lie.
    const std::set<std::string> green = {"#00FF00", "#008000"}, red = {"#FF0000", "#800000"};
    const struct { UINT id; const std::set<std::string>& wanted; const std::set<std::string>& banned; } icons[] = {
        {IDI_MAINFRAME, green, red},
        {IDI_PORT_CLOSED, red, green},
    };
    for (const auto& e : icons) {
        const AfxIconResource* icon = AfxFindIconResource(e.id);
        ASSERT_NE(icon, nullptr);
        for (auto [xpm, size] : {std::pair{icon->xpm32, 32}, std::pair{icon->xpm16, 16}}) {
            SCOPED_TRACE(::testing::Message() << "icon " << e.id << " at " << size);
            std::set<std::string> drawn;
            ASSERT_TRUE(parseXpm(xpm, size, &drawn));
            for (const std::string& c : e.wanted)
                EXPECT_TRUE(drawn.count(c)) << c << " missing";
            for (const std::string& c : e.banned)
                EXPECT_FALSE(drawn.count(c)) << c << " drawn";
        }
    }
}

TEST_F(Resources, MainDialogIdsAndTabOrder)
{
    const AfxDlgTemplate* dlg = AfxFindDialogResource(IDD_MAIN);
    ASSERT_NE(dlg, nullptr);
    std::set<int> ids;
    std::vector<int> tabOrder;
    for (int i = 0; i < dlg->itemCount; ++i) {
        const AfxDlgItemTemplate& item = dlg->items[i];
        SCOPED_TRACE(::testing::Message() << "control " << i + 1 << ", id " << item.id);
        EXPECT_EQ(item.style & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
        if (item.id != IDC_STATIC) {
            EXPECT_TRUE(ids.insert(item.id).second) << "repeated";
        }
        if (item.style & WS_TABSTOP)
            tabOrder.push_back(item.id);
        // Enter must press no button of the main dialog.
        if (std::string(item.className) == "BUTTON") {
            EXPECT_NE(item.style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
        }
    }
    const std::vector<int> expected = {
        IDC_OPEN_BUTTON, IDC_PORT_COMBO, IDC_BAUD_COMBO, IDC_PARITY_COMBO, IDC_DATABITS_COMBO,
        IDC_STOPBITS_COMBO, IDC_CLEAR_BUTTON, IDC_HEX_DISPLAY_CHECK, IDC_SEND_BUTTON, IDC_HEX_SEND_CHECK,
        IDC_AUTO_SEND_CHECK, IDC_PERIOD_EDIT, IDC_SEND_EDIT, IDC_RESET_SENT_BUTTON, IDC_RESET_RECV_BUTTON,
        IDC_SAVE_BUTTON, IDC_SETTINGS_BUTTON, IDC_HELP_BUTTON, IDC_EXIT_BUTTON, IDC_PAUSE_BUTTON,
    };
    EXPECT_EQ(tabOrder, expected);
    // Besides the tab stops, only the receive area, the lamp and the state label have ids.
    std::set<int> named(expected.begin(), expected.end());
    named.insert({IDC_RECV_EDIT, IDC_PORT_LAMP, IDC_PORT_STATE_TEXT});
    EXPECT_EQ(ids, named);
}

TEST_F(Resources, ControlsLieInsideTheirDialogsAndShowIconsThatExist)
{
    const std::set<std::string> classes = {"BUTTON", "EDIT", "STATIC", "COMBOBOX"};
    for (int d = 0; d < kModule.dialogCount; ++d) {
        const AfxDlgTemplate& dlg = kModule.dialogs[d];
        EXPECT_GT(dlg.itemCount, 0);
        for (int i = 0; i < dlg.itemCount; ++i) {
            const AfxDlgItemTemplate& item = dlg.items[i];
            SCOPED_TRACE(::testing::Message() << "dialog " << dlg.id << ", control " << i + 1);
            EXPECT_TRUE(classes.count(item.className));
            EXPECT_TRUE(item.x >= 0 && item.y >= 0 && item.cx > 0 && item.cy > 0);
            EXPECT_LE(item.x + item.cx, dlg.cx);
            EXPECT_LE(item.y + item.cy, dlg.cy);
            if (std::string(item.className) == "STATIC" && (item.style & SS_TYPEMASK) == SS_ICON) {
                EXPECT_NE(AfxFindIconResource(item.iconId), nullptr) << "icon " << item.iconId;
            } else {
                EXPECT_EQ(item.iconId, 0u);
            }
        }
    }
}

}  // namespace
