#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Models/Money.hpp>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <string_view>

using pizzacore::Cents;
using pizzacore::PCError;
namespace Money = pizzacore::Money;

namespace {
constexpr std::string_view refusal = "Escribe un importe positivo con un máximo de dos decimales.";
}

TEST(Money, ParsesAcceptedAmounts) {
    struct Case {
        std::string_view input;
        Cents expected;
    };
    const Case cases[] = {
        {" 12,3 ", 1230},
        {"12.30", 1230},
        {"012", 1200},
        {"999999,99", 99'999'999},
        {"999999", 99'999'900},
        {"0", 0},
        {"0,00", 0},
        {"000000.0", 0},
        {"7,5", 750},
        {"7.05", 705},
        {"7,50", 750},
        {"21", 2100},
        {"\u00A07,50\n", 750},
        {"\t1,5\u3000\u2028", 150},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Money::parse(c.input), c.expected) << c.input;
}

TEST(Money, RefusesEverythingElseWithTheOneMessage) {
    const std::string_view inputs[] = {
        "",           "  \n",     "1.234,56", "1 000", "-5",      "+5",      "5€",       "€5",
        ",5",         "5,",       ".5",       "5.",    "1234567", "0000000", "1,234",    "1,2,3",
        "1..2",       "1,.2",     "12a",      "a",     "0x10",    "1e3",     "12,30 €",  "5,\u00A0",
        "1\u00A0000", "12\u200B", "\u200B12", "１２",  "٣",       "1'000",   "12,3\x80", "\xC2",
    };
    for (std::string_view input : inputs) {
        try {
            Money::parse(input);
            ADD_FAILURE() << "accepted: " << input;
        } catch (const PCError& error) {
            EXPECT_EQ(error.message(), refusal) << input;
            EXPECT_EQ(std::string_view(error.what()), refusal) << input;
        }
    }
}

TEST(Money, WritesAmounts) {
    struct Case {
        Cents cents;
        std::string_view text;
    };
    const Case cases[] = {
        {0, "0,00 €"},
        {5, "0,05 €"},
        {7, "0,07 €"},
        {100, "1,00 €"},
        {750, "7,50 €"},
        {123456, "1234,56 €"},
        {99'999'999, "999999,99 €"},
        {-7, "-0,07 €"},
        {-150, "-1,50 €"},
        {std::numeric_limits<Cents>::max(), "92233720368547758,07 €"},
        {std::numeric_limits<Cents>::min(), "-92233720368547758,08 €"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Money::text(c.cents), c.text) << c.cents;
        EXPECT_EQ(Money::input(c.cents) + " €", c.text) << c.cents;
    }
}

TEST(Money, ParsesBackWhatItPrefills) {
    auto check = [](Cents cents) {
        ASSERT_EQ(Money::parse(Money::input(cents)), cents) << Money::input(cents);
    };
    for (Cents cents = 0; cents < 100'000; ++cents)
        check(cents);
    for (Cents cents = 0; cents <= Money::ceiling; cents += 997)
        check(cents);
    check(Money::ceiling - 1);
    check(Money::ceiling);
    EXPECT_THROW(Money::parse(Money::input(Money::ceiling + 1)), PCError);
}
