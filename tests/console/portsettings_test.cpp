#include <gtest/gtest.h>

#include "console/portsettings.h"

namespace {

// The port number and parity come from an item's position, the numbers from
// the item's text as atoi reads it (beyond int it saturates); a parity
// position outside the list leaves the letter passed in.
TEST(PortSettings, ListSelectionsGiveTheSettingsText)
{
    const struct {
        PortListSelection selection;
        char chPreviousParity;
        const char* text;
    } rows[] = {
        {{0, "9600", 0, "8", "1"}, '?', "1.9600.N.8.1"},
        {{2, "38400", 2, "7", "2"}, '?', "3.38400.E.7.2"},
        {{3, "300", 1, "6", "1"}, '?', "4.300.O.6.1"},
        {{1, " 19200x", 7, "7 bits", "two"}, 'E', "2.19200.E.7.0"},
        {{0, "99999999999", -1, "", "-2"}, 'O', "1.2147483647.O.0.-2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(PortSettingsText(PortSettingsFromLists(row.selection, row.chPreviousParity)).bytes(), row.text);
    }
}

} // namespace
