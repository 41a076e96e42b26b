// The resource tables as the framework will read them: every text is code
// page 936, every icon is a well-formed 16-colour XPM, and every control lies
// inside its dialog. That each dialog, menu and text the program looks up is
// there is the app suite's to see (it opens them all).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "framework/cstring.h"
#include "framework/winuser.h"
#include "res/resource.h"
#include "tests/support/gbk.h"

namespace {

const AfxResourceModule& kModule = g_tavrinResources;

class Resources : public ::testing::Test {
protected:
    void SetUp() override { AfxSetResources(&g_tavrinResources); }
};

TEST_F(Resources, EveryTextIsCodePage936)
{
    std::vector<const char*> texts;
    for (const AfxDlgTemplate& dlg : std::span(kModule.dialogs, kModule.dialogCount)) {
        texts.insert(texts.end(), {dlg.caption, dlg.fontFace});
        for (const AfxDlgItemTemplate& item : std::span(dlg.items, dlg.itemCount))
            texts.push_back(item.text);
    }
    for (const AfxStringResource& string : std::span(kModule.strings, kModule.stringCount))
        texts.push_back(string.text);
    for (const AfxMenuResource& menu : std::span(kModule.menus, kModule.menuCount))
        for (const AfxMenuItemResource& item : std::span(menu.items, menu.itemCount))
            texts.push_back(item.text);
    // Texts compiled as UTF-8 by mistake can still decode as GBK, as nonsense:
    // the app suite compares texts of each file with the characters meant.
    for (const char* text : texts) {
        ASSERT_NE(text, nullptr);
        EXPECT_TRUE(Utf8FromGbk(text)) << text;
    }
}

const std::set<std::string> kClassicPalette = {
    "#000000", "#800000", "#008000", "#808000", "#000080", "#800080", "#008080", "#C0C0C0",
    "#808080", "#FF0000", "#00FF00", "#FFFF00", "#0000FF", "#FF00FF", "#00FFFF", "#FFFFFF",
};

// The colours an XPM of size x size, one character a pixel, draws; a
// character no colour line defines is drawn as "?".
std::set<std::string> DrawnColours(const char* const* xpm, int size)
{
    std::istringstream header(xpm[0]);
    int width = 0, height = 0, colours = 0, charsPerPixel = 0;
    header >> width >> height >> colours >> charsPerPixel;
    EXPECT_TRUE(width == size && height == size && charsPerPixel == 1) << xpm[0];
    std::map<char, std::string> table;
    for (int i = 1; i <= colours; ++i)
        table[xpm[i][0]] = std::string(xpm[i]).substr(std::string(xpm[i]).rfind(' ') + 1);
    std::set<std::string> drawn;
    for (int y = 0; y < height; ++y) {
        EXPECT_EQ(std::strlen(xpm[1 + colours + y]), static_cast<size_t>(width)) << "row " << y;
        for (const char* pixel = xpm[1 + colours + y]; *pixel; ++pixel)
            drawn.insert(table.count(*pixel) ? table[*pixel] : "?");
    }
    drawn.erase("None");
    return drawn;
}

TEST_F(Resources, IconsDrawTheClassicSixteenColoursAndTheLampTellsOpenFromClosed)
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
            const std::set<std::string> drawn = DrawnColours(xpm, size);
            for (const std::string& c : drawn)
                EXPECT_TRUE(kClassicPalette.count(c)) << c;
            for (const std::string& c : e.wanted)
                EXPECT_TRUE(drawn.count(c)) << c << " missing";
            for (const std::string& c : e.banned)
                EXPECT_FALSE(drawn.count(c)) << c << " drawn";
        }
    }
}

TEST_F(Resources, ControlsLieInsideTheirDialogsAndShowIconsThatExist)
{
    const std::set<std::string> classes = {"BUTTON", "EDIT", "STATIC", "COMBOBOX"};
    for (const AfxDlgTemplate& dlg : std::span(kModule.dialogs, kModule.dialogCount)) {
        EXPECT_GT(dlg.itemCount, 0);
        for (int i = 0; i < dlg.itemCount; ++i) {
            const AfxDlgItemTemplate& item = dlg.items[i];
            SCOPED_TRACE(::testing::Message() << "dialog " << dlg.id << ", control " << i + 1);
            EXPECT_TRUE(classes.count(item.className));
            EXPECT_EQ(item.style & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
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
