#include <PizzaCore/Models/PhoneKey.hpp>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

using pizzacore::isValidPhone;
using pizzacore::phoneKey;

TEST(PhoneKey, NormalisesTelephoneNumbers) {
    struct Case {
        std::string_view input;
        std::string_view key;
    };
    const Case cases[] = {
        {"612 34 56 78", "612345678"},
        {"+34 612 345 678", "612345678"},
        {"0034 612345678", "612345678"},
        {"34612345678", "612345678"},
        {"(91) 123-45-67", "911234567"},
        {"+44 20 7946 0958", "442079460958"},
        {"00 3412", "3412"},
        {"sin número", ""},
        {"", ""},
        {"0034 34 123 4567", "341234567"},        // "00" first, then the 34 of an 11-digit number
        {"0000 34 612 345 678", "0034612345678"}, // the prefix is dropped once
        {"3461234567", "3461234567"},             // 10 digits keep their 34
        {"346123456789", "346123456789"},         // and so do 12
        {"00", ""},
        {"Tel. 612.345/678 ext", "612345678"},
        {"612\u00A0345\u2009678", "612345678"},
        {"６１２٣٤٥²³", ""}, // full-width, Arabic-Indic and superscript digits are not ASCII
    };
    for (const Case& c : cases)
        EXPECT_EQ(phoneKey(c.input), c.key) << c.input;
}

TEST(PhoneKey, ValidityCountsTheDigitsOfTheKey) {
    struct Case {
        std::string_view input;
        bool valid;
    };
    const Case cases[] = {
        {"123456", false},
        {"1234567", true},
        {"123456789012345", true},
        {"1234567890123456", false},
        {"00 123456", false},         // 8 digits typed, 6 in the key
        {"00 123456789012345", true}, // 17 typed, 15 in the key
        {"+34 123 456 789", true},
        {"34 1234", false},
        {"", false},
        {"abc-def-ghij", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isValidPhone(c.input), c.valid) << c.input;
}
