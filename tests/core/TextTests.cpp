#include <PizzaCore/Foundation/Text.hpp>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

using pizzacore::isBlank;
using pizzacore::trimmed;

namespace {

std::string utf8(char32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

bool isWhiteSpace(char32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

} // namespace

TEST(Text, TrimsExactlyTheUnicodeWhiteSpaceCharacters) {
    // Every white space character lies in the Basic Multilingual Plane; the planes above are sampled.
    for (char32_t cp = 0; cp <= 0x10FFFF; cp += cp < 0x10000 ? 1 : 251) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        const std::string c = utf8(cp);
        const bool space = isWhiteSpace(cp);
        ASSERT_EQ(isBlank(c), space) << std::hex << static_cast<std::uint32_t>(cp);
        ASSERT_EQ(trimmed(c + "x"), space ? "x" : c + "x") << std::hex << static_cast<std::uint32_t>(cp);
        ASSERT_EQ(trimmed("x" + c), space ? "x" : "x" + c) << std::hex << static_cast<std::uint32_t>(cp);
    }
}

TEST(Text, TrimsRunsAtBothEndsAndKeepsInnerCharacters) {
    struct Case {
        std::string_view input;
        std::string_view expected;
    };
    const Case cases[] = {
        {"", ""},
        {"   ", ""},
        {"  12,3  ", "12,3"},
        {"\t\r\n\v\f Ana \r\n", "Ana"},
        {"\u00A0\u3000\u2028 Calle Mayor 1\u2029\u00A0\n", "Calle Mayor 1"},
        {"a \u00A0\u3000\u2028 b", "a \u00A0\u3000\u2028 b"},
        {"\u2009\u00A0¡Hola!\u202F\u205F", "¡Hola!"},
        {"\u200Bx\u200B", "\u200Bx\u200B"}, // zero width space is not white space
    };
    for (const Case& c : cases)
        EXPECT_EQ(trimmed(c.input), c.expected) << c.input;
}

TEST(Text, LeavesInvalidUtf8InPlace) {
    struct Case {
        std::string_view input;
        std::string_view expected;
    };
    const Case cases[] = {
        {"\xC2", "\xC2"},
        {" \xE2\x80 ", "\xE2\x80"}, // a space's encoding cut short
        {"\xE3\x80", "\xE3\x80"},
        {"\x80\xA0 x \xA0\x80", "\x80\xA0 x \xA0\x80"}, // stray continuation bytes
        {"\xFF\u3000", "\xFF"},
        {"\xE2\xE2\x80\x80", "\xE2"}, // a bad lead byte before a valid U+2000
        {"\xF0\x80\x80\xA0", "\xF0\x80\x80\xA0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(trimmed(c.input), c.expected);
        EXPECT_FALSE(isBlank(c.input));
    }
}

TEST(Text, GivesAViewIntoTheArgument) {
    const std::string text = "\u3000 abc \n";
    const std::string_view result = trimmed(text);
    EXPECT_EQ(result.data(), text.data() + 4);
    EXPECT_EQ(result.size(), 3u);
}
