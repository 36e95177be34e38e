// The text comparisons behind category names, customer search and sorted lists.

#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace pizzacore {
namespace {

TEST(TextLocale, FirstSetVariableWithSpanishForCAndPOSIX) {
    struct Case {
        const char* lcAll;
        const char* lcCollate;
        const char* lang;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {nullptr, nullptr, nullptr, "es_ES"},
        {"", "", "", "es_ES"},
        {nullptr, nullptr, "C", "es_ES"},
        {nullptr, nullptr, "C.UTF-8", "es_ES"},
        {"POSIX", "fr_FR.UTF-8", "de_DE", "es_ES"}, // LC_ALL wins, even when it is POSIX
        {"", "fr_FR.UTF-8", "de_DE.UTF-8", "fr_FR"},
        {nullptr, nullptr, "ca_ES.UTF-8@valencia", "ca_ES"},
        {nullptr, nullptr, "tr_TR", "tr_TR"},
        {"en_GB.ISO-8859-1", nullptr, nullptr, "en_GB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lcAll ? c.lcAll : "-") + " " + (c.lcCollate ? c.lcCollate : "-") + " " +
                     (c.lang ? c.lang : "-"));
        EXPECT_EQ(textLocale(c.lcAll, c.lcCollate, c.lang), c.expected);
    }
}

TEST(EqualIgnoringCaseAndDiacritics, AgreesWithTheStoredDocumentFolding) {
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    };
    const std::vector<Case> cases = {
        {"Postres", "postres", true},
        {"Postres", "PÓSTRES", true},
        {"Póstres", "Po\u0301stres", true}, // precomposed and decomposed
        {"Ñandú", "nandu", true},
        {"Straße", "STRASSE", true},
        {"Pingüino", "pinguino", true},
        {"Bebidas", "Bebidas frías", false},
        {"Pizzas", "Pizza", false},
        {"Øl", "Ol", false},
        {"Pizzas ", "Pizzas", false},
        {"", "", true},
        {"\xFF", "\xFE", true}, // both become the replacement character
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(equalIgnoringCaseAndDiacritics(c.a, c.b), c.equal);
        EXPECT_EQ(foldedForComparison(c.a) == foldedForComparison(c.b), c.equal);
    }
}

TEST(InsensitiveMatcher, ContainsIgnoringCaseAndAccents) {
    struct Case {
        const char* locale;
        const char* text;
        const char* query;
        bool found;
    };
    const std::vector<Case> cases = {
        {"es_ES", "José", "jose", true},
        {"es_ES", "JOSÉ GARCÍA", "garcía", true},
        {"es_ES", "Jose\u0301 Garci\u0301a", "josé", true},
        {"es_ES", "Calle del Niño 4", "nino 4", true},
        {"es_ES", "Calle del Niño 4", "NIÑO", true},
        {"es_ES", "José", "josh", false},
        {"es_ES", "Ana", "ana maría", false},
        {"es_ES", "Straße 5", "strasse", true},
        {"es_ES", "ISTANBUL", "istanbul", true},
        {"es_ES", "İstanbul", "istanbul", true},
        // In Turkish the capital I is the dotless ı, and İ the dotted i.
        {"tr_TR", "ISPARTA", "isparta", false},
        {"tr_TR", "ISPARTA", "ısparta", true},
        {"tr_TR", "İZMİR", "izmir", true},
        {"tr", "I\u0307zmir", "izmir", true},
        {"es_ES", "texto \xFF roto", "\xFF roto", true},
        {"es_ES", "Ana", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + ": " + c.text + " / " + c.query);
        EXPECT_EQ(InsensitiveMatcher(c.locale).textContains(c.text, c.query), c.found);
    }
}

// Order search: letter case is ignored, accents are not.
TEST(CaseInsensitiveMatcher, IgnoresCaseButKeepsAccents) {
    struct Case {
        const char* locale;
        const char* text;
        const char* query;
        bool found;
    };
    const std::vector<Case> cases = {
        {"es_ES", "JOSE", "jose", true},
        {"es_ES", "Jose Pérez", "JOSE", true},
        {"es_ES", "José", "jose", false},
        {"es_ES", "JOSÉ", "josé", true},
        {"es_ES", "José", "josé", true},  // decomposed text, precomposed query
        {"es_ES", "JOSÉ", "josé", true},  // and the other way round
        {"es_ES", "José", "jose", false}, // the accent is not dropped by decomposition
        {"es_ES", "NIÑO", "niño", true},
        {"es_ES", "NIÑO", "nino", false},
        {"es_ES", "Straße", "STRASSE", true},
        {"es_ES", "ISPARTA", "isparta", true},
        {"tr_TR", "ISPARTA", "isparta", false},
        {"tr_TR", "İZMİR", "izmir", true},
        {"es_ES", "texto \xFF roto", "\xFF roto", true},
        {"es_ES", "Ana", "", true},
        {"es_ES", "", "a", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + ": " + c.text + " / " + c.query);
        EXPECT_EQ(CaseInsensitiveMatcher(c.locale).textContains(c.text, c.query), c.found);
    }
}

// The matcher folds Latin letters one at a time; the result must be the whole-text folding of the
// stored document's name check, letter by letter and inside words, each letter met twice.
TEST(InsensitiveMatcher, LetterByLetterFoldingEqualsWholeTextFolding) {
    InsensitiveMatcher matcher("es_ES");
    for (int round = 0; round < 2; ++round) {
        for (char32_t c = 0x80; c < 0x250; ++c) {
            std::string letter;
            if (c < 0x800) {
                letter += static_cast<char>(0xC0 | (c >> 6));
                letter += static_cast<char>(0x80 | (c & 0x3F));
            }
            for (const std::string& text : {letter, "Ab" + letter + "Z", letter + letter}) {
                ASSERT_EQ(matcher.folded(text), foldedForComparison(text)) << static_cast<std::uint32_t>(c);
            }
        }
    }
    // Texts that leave the Latin letters, or are not UTF-8, are folded whole.
    for (const char* text : {"Ñandú Ωμέγα", "Jose\u0301", "ǅemal\xFF", "Ærø\xE2\x82", "ﬁdeos Straße"})
        EXPECT_EQ(matcher.folded(text), foldedForComparison(text)) << text;
}

TEST(NaturalOrder, CaseInsensitiveWithNumbersByValue) {
    const NaturalOrder order("es_ES");
    EXPECT_LT(order.compare("Pizza 9", "Pizza 10"), 0);
    EXPECT_LT(order.compare("pizza 9", "PIZZA 10"), 0);
    EXPECT_EQ(order.compare("Ana", "ana"), 0);
    EXPECT_LT(order.compare("Ana", "Ángel"), 0);
    EXPECT_LT(order.compare("Ángel", "Bea"), 0);
    // Spanish orders ñ as a letter of its own after n.
    EXPECT_LT(order.compare("Nunz", "Nuñez"), 0);
    EXPECT_LT(order.compare("Nuñez", "Nuoz"), 0);

    // Keys sort the same way, whatever the starting order.
    std::vector<std::string> names = {"Pizza 10", "ángel", "Nuñez",   "pizza 2",
                                      "Ana",      "Nunz",  "Pizza 1", "Bea"};
    std::sort(names.begin(), names.end(),
              [&](const std::string& a, const std::string& b) { return order.key(a) < order.key(b); });
    EXPECT_EQ(names, (std::vector<std::string>{"Ana", "ángel", "Bea", "Nunz", "Nuñez", "Pizza 1", "pizza 2",
                                               "Pizza 10"}));
    for (std::size_t i = 0; i + 1 < names.size(); ++i)
        EXPECT_LT(order.compare(names[i], names[i + 1]), 0) << names[i];

    // A locale ICU does not know still gives a usable order, and broken text is ordered safely.
    const NaturalOrder unknown("xx_YY");
    EXPECT_LT(unknown.compare("Pizza 9", "Pizza 10"), 0);
    EXPECT_NE(order.key("\xFF\xFE"), "");
}

} // namespace
} // namespace pizzacore
