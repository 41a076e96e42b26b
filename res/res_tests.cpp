// Checks the resource tables as the framework will read them: every text is
// code page 936, every icon is a well-formed 16-colour XPM, the main dialog's
// ids and tab order are right, and every control lies inside its dialog.
#include <gtest/gtest.h>

#include <cerrno>
#include <iconv.h>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "framework/cstring.h"
#include "framework/winuser.h"
#include "res/resource.h"

namespace {

// Decodes code page 936 bytes to UTF-8; fails on any byte sequence GBK does not define.
::testing::AssertionResult decodeGbk(const char* bytes, std::string* utf8)
{
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return ::testing::AssertionFailure() << "iconv has no GBK converter";
    std::string in(bytes);
    std::string out(in.size() * 3 + 1, '\0');
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    int err = errno;
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1))
        return ::testing::AssertionFailure() << "not GBK at byte " << (in.size() - inLeft) << " (errno " << err
                                             << ") in \"" << bytes << "\"";
    out.resize(out.size() - outLeft);
    if (utf8)
        *utf8 = out;
    return ::testing::AssertionSuccess();
}

std::string gbkToUtf8(const char* bytes)
{
    std::string utf8;
    EXPECT_TRUE(decodeGbk(bytes, &utf8));
    return utf8;
}

const AfxResourceModule& module() { return g_tavrinResources; }

const AfxDlgTemplate& dialog(UINT id)
{
    AfxSetResources(&g_tavrinResources);
    const AfxDlgTemplate* dlg = AfxFindDialogResource(id);
    EXPECT_NE(dlg, nullptr) << "dialog " << id;
    static const AfxDlgTemplate none{};
    return dlg ? *dlg : none;
}

TEST(Resources, EveryIdIsFoundOnceThroughTheFramework)
{
    AfxSetResources(&g_tavrinResources);
    for (UINT id : {IDD_ABOUT, IDD_MAIN, IDD_HELP})
        EXPECT_NE(AfxFindDialogResource(id), nullptr) << id;
    for (UINT id : {IDI_MAINFRAME, IDI_PORT_CLOSED})
        EXPECT_NE(AfxFindIconResource(id), nullptr) << id;
    CString about;
    EXPECT_TRUE(about.LoadString(IDS_ABOUTBOX));
    EXPECT_FALSE(about.IsEmpty());

    const AfxMenuResource* menu = AfxFindMenuResource(IDR_ABOUT_MENU);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->itemCount, 1);
    EXPECT_EQ(menu->items[0].command, static_cast<UINT>(ID_APP_ABOUT_MENU));

    // A repeated id would hide the later entry from every lookup.
    std::set<UINT> dialogs, icons;
    for (int i = 0; i < module().dialogCount; ++i)
        EXPECT_TRUE(dialogs.insert(module().dialogs[i].id).second) << module().dialogs[i].id;
    for (int i = 0; i < module().iconCount; ++i)
        EXPECT_TRUE(icons.insert(module().icons[i].id).second) << module().icons[i].id;
    AfxSetResources(nullptr);
}

TEST(Resources, EveryTextIsCodePage936)
{
    std::vector<const char*> texts;
    for (int d = 0; d < module().dialogCount; ++d) {
        const AfxDlgTemplate& dlg = module().dialogs[d];
        texts.push_back(dlg.caption);
        texts.push_back(dlg.fontFace);
        for (int i = 0; i < dlg.itemCount; ++i)
            texts.push_back(dlg.items[i].text);
    }
    for (int i = 0; i < module().stringCount; ++i)
        texts.push_back(module().strings[i].text);
    for (int m = 0; m < module().menuCount; ++m)
        for (int i = 0; i < module().menus[m].itemCount; ++i)
            texts.push_back(module().menus[m].items[i].text);

    for (const char* text : texts) {
        ASSERT_NE(text, nullptr);
        EXPECT_TRUE(decodeGbk(text, nullptr));
    }

    // Texts that were compiled as UTF-8 by mistake mostly still decode as GBK,
    // as nonsense; these show that the bytes are the characters meant.
    EXPECT_EQ(gbkToUtf8(dialog(IDD_MAIN).fontFace), "宋体");
    EXPECT_EQ(gbkToUtf8(AfxFindStringResource(IDS_ABOUTBOX)), "关于Tavrin...");
    EXPECT_EQ(gbkToUtf8(module().menus[0].items[0].text), "关于");
    EXPECT_EQ(gbkToUtf8(dialog(IDD_HELP).caption), "Tavrin使用帮助");
    EXPECT_EQ(gbkToUtf8(dialog(IDD_MAIN).caption).rfind("Tavrin - ", 0), 0u);
}

// The classic 16-colour palette.
const std::set<std::string> kPalette = {
    "#000000", "#800000", "#008000", "#808000", "#000080", "#800080", "#008080", "#C0C0C0",
    "#808080", "#FF0000", "#00FF00", "#FFFF00", "#0000FF", "#FF00FF", "#00FFFF", "#FFFFFF",
};

struct XpmImage {
    int width = 0, height = 0;
    std::set<std::string> coloursUsed;  // "#RRGGBB" of the pixels drawn, None left out
};

// Parses an XPM as the framework's image reader will, failing on anything it
// would reject or draw wrongly.
::testing::AssertionResult parseXpm(const char* const* xpm, XpmImage* image)
{
    if (!xpm || !xpm[0])
        return ::testing::AssertionFailure() << "no image";
    std::istringstream header(xpm[0]);
    int colours = 0, charsPerPixel = 0;
    std::string rest;
    if (!(header >> image->width >> image->height >> colours >> charsPerPixel) || (header >> rest))
        return ::testing::AssertionFailure() << "bad header \"" << xpm[0] << "\"";
    if (charsPerPixel != 1 || colours < 1 || colours > 17)
        return ::testing::AssertionFailure() << "header \"" << xpm[0] << "\"";

    std::string table[256];
    int opaque = 0;
    for (int i = 1; i <= colours; ++i) {
        std::string line = xpm[i] ? xpm[i] : "";
        std::istringstream in(line.size() > 1 ? line.substr(1) : "");
        std::string key, value;
        if (line.size() < 2 || line[1] != ' ' || !(in >> key >> value) || key != "c" || (in >> rest))
            return ::testing::AssertionFailure() << "bad colour \"" << line << "\"";
        unsigned char ch = static_cast<unsigned char>(line[0]);
        if (!table[ch].empty())
            return ::testing::AssertionFailure() << "colour '" << line[0] << "' defined twice";
        if (value != "None" && !kPalette.count(value))
            return ::testing::AssertionFailure() << value << " is not in the 16-colour palette";
        opaque += value != "None";
        table[ch] = value;
    }
    if (opaque > 16)
        return ::testing::AssertionFailure() << opaque << " colours";

    for (int y = 0; y < image->height; ++y) {
        const char* row = xpm[1 + colours + y];
        if (!row || static_cast<int>(std::string(row).size()) != image->width)
            return ::testing::AssertionFailure() << "row " << y << " is not " << image->width << " pixels";
        for (int x = 0; x < image->width; ++x) {
            const std::string& colour = table[static_cast<unsigned char>(row[x])];
            if (colour.empty())
                return ::testing::AssertionFailure() << "pixel '" << row[x] << "' at " << x << "," << y
                                                     << " has no colour";
            if (colour != "None")
                image->coloursUsed.insert(colour);
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(Resources, IconsAreSixteenColourXpmsInBothSizes)
{
    AfxSetResources(&g_tavrinResources);
    // The open port's lamp is green, the closed port's red; swapped, the lamp would lie.
    struct Expect { UINT id; std::set<std::string> wanted, banned; };
    const Expect icons[] = {
        {IDI_MAINFRAME, {"#00FF00", "#008000"}, {"#FF0000", "#800000"}},
        {IDI_PORT_CLOSED, {"#FF0000", "#800000"}, {"#00FF00", "#008000"}},
    };
    for (const Expect& e : icons) {
        const AfxIconResource* icon = AfxFindIconResource(e.id);
        ASSERT_NE(icon, nullptr);
        for (auto [xpm, size] : {std::pair{icon->xpm32, 32}, std::pair{icon->xpm16, 16}}) {
            SCOPED_TRACE(::testing::Message() << "icon " << e.id << " at " << size);
            XpmImage image;
            ASSERT_TRUE(parseXpm(xpm, &image));
            EXPECT_EQ(image.width, size);
            EXPECT_EQ(image.height, size);
            for (const std::string& c : e.wanted)
                EXPECT_TRUE(image.coloursUsed.count(c)) << c << " missing";
            for (const std::string& c : e.banned)
                EXPECT_FALSE(image.coloursUsed.count(c)) << c << " drawn";
        }
    }
    AfxSetResources(nullptr);
}

TEST(Resources, MainDialogIdsAndTabOrder)
{
    const AfxDlgTemplate& dlg = dialog(IDD_MAIN);
    const std::set<std::string> classes = {"BUTTON", "EDIT", "STATIC", "COMBOBOX"};
    std::set<int> ids;
    std::vector<int> tabOrder;
    for (int i = 0; i < dlg.itemCount; ++i) {
        const AfxDlgItemTemplate& item = dlg.items[i];
        SCOPED_TRACE(::testing::Message() << "control " << i + 1 << ", id " << item.id);
        EXPECT_TRUE(classes.count(item.className));
        EXPECT_EQ(item.style & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
        if (item.id != IDC_STATIC) {
            EXPECT_TRUE(ids.insert(item.id).second) << "repeated";
        }
        if (item.style & WS_TABSTOP)
            tabOrder.push_back(item.id);
        // Enter must not press any button of the main dialog.
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
    // Every control the program reaches by id, and nothing else, has one.
    std::set<int> named(expected.begin(), expected.end());
    named.insert({IDC_RECV_EDIT, IDC_PORT_LAMP, IDC_PORT_STATE_TEXT});
    EXPECT_EQ(ids, named);
}

TEST(Resources, ControlsLieInsideTheirDialogsAndIconsExist)
{
    AfxSetResources(&g_tavrinResources);
    for (int d = 0; d < module().dialogCount; ++d) {
        const AfxDlgTemplate& dlg = module().dialogs[d];
        EXPECT_GT(dlg.itemCount, 0);
        for (int i = 0; i < dlg.itemCount; ++i) {
            const AfxDlgItemTemplate& item = dlg.items[i];
            SCOPED_TRACE(::testing::Message() << "dialog " << dlg.id << ", control " << i + 1);
            EXPECT_GE(item.x, 0);
            EXPECT_GE(item.y, 0);
            EXPECT_GT(item.cx, 0);
            EXPECT_GT(item.cy, 0);
            EXPECT_LE(item.x + item.cx, dlg.cx);
            EXPECT_LE(item.y + item.cy, dlg.cy);
            if (std::string(item.className) == "STATIC" && (item.style & SS_TYPEMASK) == SS_ICON) {
                EXPECT_NE(AfxFindIconResource(item.iconId), nullptr) << "icon " << item.iconId;
            } else {
                EXPECT_EQ(item.iconId, 0u);
            }
        }
    }
    AfxSetResources(nullptr);
}

}  // namespace
