// UTF-8 <-> UTF-16 for names from the platform: valid text round-trips, invalid bytes
// survive as escaped code units.
#include "core/text/utf.h"

#include <gtest/gtest.h>

static std::string roundTrip(const std::string& s) {
    std::u16string w = text::fromUtf8(s.data(), s.size());
    return text::toUtf8(reinterpret_cast<const uint16_t*>(w.data()), w.size());
}

TEST(Text, DecodesUtf8IntoCodeUnits) {
    std::string s = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"; // a, U+00E9, U+20AC, U+1F600
    std::u16string w = text::fromUtf8(s.data(), s.size());
    ASSERT_EQ(w.size(), 5u);
    EXPECT_EQ(w[0], u'a');
    EXPECT_EQ(w[1], 0xE9);
    EXPECT_EQ(w[2], 0x20AC);
    EXPECT_EQ(w[3], 0xD83D);
    EXPECT_EQ(w[4], 0xDE00);
    EXPECT_EQ(roundTrip(s), s);
}

TEST(Text, InvalidBytesRoundTrip) {
    // A lone continuation byte, a truncated sequence, an overlong form and an encoded
    // surrogate are all kept byte for byte.
    for (std::string s : {"\x80", "ab\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "x\xFFy"})
        EXPECT_EQ(roundTrip(s), s);
}

TEST(Text, LoneSurrogatesRoundTrip) {
    const uint16_t units[] = {'a', 0xD800, 'b', 0xDFFF};
    std::string utf8 = text::toUtf8(units, 4);
    EXPECT_EQ(utf8, "a\xED\xA0\x80"
                    "b\xED\xBF\xBF");
    std::u16string back = text::fromUtf8(utf8.data(), utf8.size());
    EXPECT_EQ(back, std::u16string(u"a\xD800"
                                   u"b\xDFFF"));
}

// The engine's encoding and UTF-8 both ways, with the character that differs at every
// place around the words of ASCII that the conversions skip whole.
TEST(Text, ConvertsBetweenCesu8AndUtf8AnywhereInTheText) {
    const std::string cesu = "\xED\xA0\xBD\xED\xB8\x80", utf8 = "\xF0\x9F\x98\x80";
    for (size_t before = 0; before <= 17; before++) {
        for (size_t after = 0; after <= 9; after++) {
            std::string a(before, 'a'), b(after, 'b'), from = a + cesu + b, out;
            text::cesu8ToUtf8(from.data(), from.size(), out);
            EXPECT_EQ(out, a + utf8 + b) << before << " " << after;
            from = a + utf8 + b;
            out.clear();
            text::utf8ToCesu8(from.data(), from.size(), out);
            EXPECT_EQ(out, a + cesu + b) << before << " " << after;
        }
    }
}
