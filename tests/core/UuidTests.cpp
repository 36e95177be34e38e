#include <PizzaCore/Foundation/Uuid.hpp>

#include <gtest/gtest.h>

#include <unordered_set>

using namespace pizzacore;

TEST(Uuid, ParsesEitherCaseAndWritesCanonicalUpperCase) {
    auto lower = Uuid::parse("0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9");
    auto upper = Uuid::parse("0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
    ASSERT_TRUE(lower && upper);
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(lower->text(), "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
    EXPECT_EQ(lower->bytes[0], 0x0A);
    EXPECT_EQ(lower->bytes[15], 0xF9);
}

TEST(Uuid, RefusesAnythingButTheCanonicalForm) {
    for (const char* text : {"", "0A1B2C3D4E5F60718293A4B5C6D7E8F9", "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}",
                             "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F", "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F90",
                             "0A1B2C3D-4E5F-6071-8293_A4B5C6D7E8F9", "0A1B2C3D-4E5F-6071-829-3A4B5C6D7E8F9",
                             "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG", " 0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F"})
        EXPECT_FALSE(Uuid::parse(text).has_value()) << text;
}

TEST(Uuid, RandomIdentifiersAreVersionFourAndDistinct) {
    std::unordered_set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        Uuid uuid = Uuid::random();
        EXPECT_EQ(uuid.bytes[6] >> 4, 4);
        EXPECT_EQ(uuid.bytes[8] >> 6, 2);
        EXPECT_EQ(Uuid::parse(uuid.text()), uuid);
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 1000u);
}
