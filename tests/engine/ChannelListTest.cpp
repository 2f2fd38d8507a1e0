#include "ChannelList.h"

#include <gtest/gtest.h>

#include <string>

using namespace morvex;

TEST(ChannelList, ParsesWritesAndRefusesLists) {
    uint64_t bits = 0;
    ASSERT_TRUE(ParseChannelList("1-8,11, 13 - 14,62-64", bits));
    EXPECT_EQ(bits, 0xE0000000000034FFULL);
    char text[256];
    FormatChannelList(bits, text, sizeof text);
    EXPECT_STREQ(text, "1-8,11,13,14,62-64");
    for (const char* bad : {"", "0", "65", "3-2", "1,", ",1", "1-", "1--2", "a", "1;2", "1 2"}) {
        EXPECT_FALSE(ParseChannelList(bad, bits)) << bad;
    }
    EXPECT_EQ(bits, 0xE0000000000034FFULL); // a refused list changes nothing
}

TEST(ChannelList, TrackNamesBecomeSafeFileNames) {
    const auto safe = [](const std::string& name) {
        char out[65];
        SafeFileNamePart(name.c_str(), out, sizeof out);
        return std::string(out);
    };
    EXPECT_EQ(safe(" ..a/b\\c:d*e?f\"g<h>i|j\tk\x7f. "), "a_b_c_d_e_f_g_h_i_j_k_");
    EXPECT_EQ(safe("Trommel \xC3\xA4"), "Trommel \xC3\xA4");
    // Cut to 64 bytes before a character that would not fit whole, never inside it.
    EXPECT_EQ(safe(std::string(70, 'x')), std::string(64, 'x'));
    EXPECT_EQ(safe(std::string(63, 'x') + "\xC3\xA4"), std::string(63, 'x'));
}
