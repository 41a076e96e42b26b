// The framework's window-free half: CString formatting across its small
// buffer's edge, and resource lookup by id.
#include <gtest/gtest.h>

#include <string>

#include "framework/cstring.h"
#include "framework/resources.h"

namespace {

// length bytes of text ending in a double-byte character, so that a result
// cut short at any edge loses a character's half.
std::string Filler(size_t length)
{
    std::string text(length, 'x');
    if (length >= 2)
        text.replace(length - 2, 2, "\xB0\xA1");
    return text;
}

TEST(CStringFormat, ResultsAroundTheSmallBufferAreWholeAndEndAtTheFirstNul)
{
    // Results of 255 bytes fit the buffer with their NUL, 256 do not.
    const struct { size_t head; char next; size_t length; } cases[] = {
        {0, '7', 1}, {1, '7', 2}, {254, '7', 255}, {255, '7', 256}, {256, '7', 257}, {5000, '7', 5001},
        {0, '\0', 0}, {255, '\0', 255}, {256, '\0', 256}, {300, '\0', 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.head << (c.next ? " and a digit" : " and a NUL"));
        const std::string head = Filler(c.head);
        CString s;
        s.Format("%s%c%s", head.c_str(), c.next, c.next ? "" : "tail");
        EXPECT_EQ(s.GetLength(), static_cast<int>(c.length));
        EXPECT_EQ(s.bytes(), c.next ? head + c.next : head);
    }
}

TEST(CString, NullTextsAndNegativeLengthsAreEmpty)
{
    EXPECT_TRUE(CString(nullptr).IsEmpty());
    EXPECT_TRUE(CString("abc", -1).IsEmpty());
    CString s("x");
    s = nullptr;
    s += static_cast<const char*>(nullptr);
    EXPECT_TRUE(s == nullptr);
}

TEST(Resources, AreFoundByIdAndKindOnlyOnceInstalled)
{
    static const AfxDlgTemplate dialogs[] = {{7, "seven", 0, 0, false, 0, 0, 10, 10, "", 9, nullptr, 0}};
    static const AfxStringResource strings[] = {{1, "one"}, {2, ""}};
    static const AfxResourceModule module = {dialogs, 1, nullptr, 0, strings, 2, nullptr, 0};

    CString text("stale");
    EXPECT_FALSE(text.LoadString(1)) << "nothing is installed yet";
    EXPECT_TRUE(text.IsEmpty());
    AfxSetResources(&module);
    EXPECT_EQ(AfxFindDialogResource(7), &dialogs[0]);
    EXPECT_TRUE(text.LoadString(1));
    EXPECT_EQ(text, "one");
    // Ids are looked up per kind: 7 is a dialog, not a string or an icon.
    EXPECT_FALSE(text.LoadString(7));
    EXPECT_EQ(AfxFindIconResource(7), nullptr);
    EXPECT_FALSE(text.LoadString(2)) << "an empty string loads nothing";
    AfxSetResources(nullptr);
}

}  // namespace
