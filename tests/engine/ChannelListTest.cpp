#include "ChannelList.h"

#include <gtest/gtest.h>

#include <string>

using namespace morvex;

namespace {

uint64_t Bits(std::initializer_list<int> channels) {
    uint64_t bits = 0;
    for (const int c : channels) {
        bits |= uint64_t{1} << (c - 1);
    }
    return bits;
}

std::string Safe(const std::string& name, size_t bytes = 65) {
    char out[128];
    SafeFileNamePart(name.c_str(), out, bytes);
    return out;
}

} // namespace

TEST(ChannelList, ParsesWhatPeopleWriteAndRefusesTheRest) {
    uint64_t bits = 0;
    ASSERT_TRUE(ParseChannelList("1-3,11, 13 - 14", bits));
    EXPECT_EQ(bits, Bits({1, 2, 3, 11, 13, 14}));
    ASSERT_TRUE(ParseChannelList("64", bits));
    EXPECT_EQ(bits, uint64_t{1} << 63);
    for (const char* bad : {"", "0", "65", "3-2", "1,", ",1", "1-", "1--2", "a", "1;2", "1 2"}) {
        bits = 7;
        EXPECT_FALSE(ParseChannelList(bad, bits)) << bad;
        EXPECT_EQ(bits, 7U) << bad;
    }
}

TEST(ChannelList, WritesTheShortestListThatReadsBack) {
    char text[256];
    const uint64_t bits = Bits({1, 2, 3, 4, 5, 6, 7, 8, 11, 13, 14, 62, 63, 64});
    FormatChannelList(bits, text, sizeof text);
    EXPECT_STREQ(text, "1-8,11,13,14,62-64");
    uint64_t back = 0;
    ASSERT_TRUE(ParseChannelList(text, back));
    EXPECT_EQ(back, bits);
    EXPECT_EQ(EffectiveChannels(0, 6), Bits({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(EffectiveChannels(Bits({2, 9}), 6), Bits({2}));
}

TEST(ChannelList, TrackNamesBecomeSafeFileNames) {
    EXPECT_EQ(Safe("Kick In"), "Kick In");
    EXPECT_EQ(Safe(" ..a/b\\c:d*e?f\"g<h>i|j\tk\x7f. "), "a_b_c_d_e_f_g_h_i_j_k_");
    EXPECT_EQ(Safe("Grosse Trommel \xC3\xA4"), "Grosse Trommel \xC3\xA4");
    EXPECT_EQ(Safe(std::string(70, 'x')), std::string(64, 'x'));
    // Cut before a character that would not fit whole, never inside it.
    EXPECT_EQ(Safe(std::string(63, 'x') + "\xC3\xA4"), std::string(63, 'x'));
    EXPECT_EQ(Safe(" . "), "");
}
