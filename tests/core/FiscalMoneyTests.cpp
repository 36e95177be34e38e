#include <PizzaCore/Models/FiscalMoney.hpp>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string_view>

namespace FiscalMoney = pizzacore::FiscalMoney;

TEST(FiscalMoney, WritesDecimalAndDisplayTexts) {
    struct Case {
        std::int64_t cents;
        std::string_view decimal;
        std::string_view text;
    };
    const Case cases[] = {
        {0, "0.00", "0,00 EUR"},
        {7, "0.07", "0,07 EUR"},
        {100, "1.00", "1,00 EUR"},
        {1234, "12.34", "12,34 EUR"},
        {2100, "21.00", "21,00 EUR"},
        {99'999'999, "999999.99", "999999,99 EUR"},
        {-5, "-0.05", "-0,05 EUR"},
        {-50, "-0.50", "-0,50 EUR"},
        {-150, "-1.50", "-1,50 EUR"},
        {-100, "-1.00", "-1,00 EUR"},
        {std::numeric_limits<std::int64_t>::max(), "92233720368547758.07", "92233720368547758,07 EUR"},
        {std::numeric_limits<std::int64_t>::min(), "-92233720368547758.08", "-92233720368547758,08 EUR"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FiscalMoney::decimal(c.cents), c.decimal) << c.cents;
        EXPECT_EQ(FiscalMoney::text(c.cents, "EUR"), c.text) << c.cents;
    }
}

TEST(FiscalMoney, WritesTheCurrencyItIsGiven) {
    EXPECT_EQ(FiscalMoney::text(1250, "USD"), "12,50 USD");
    EXPECT_EQ(FiscalMoney::text(-1, "€"), "-0,01 €");
}
