#include <PizzaCore/Foundation/Bytes.hpp>

#include <gtest/gtest.h>

#include <random>

using namespace pizzacore;

TEST(Base64, KnownVectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xff\xff\xff", "////"},
        {"\xfb\xef", "++8="},
    };
    for (const auto& [plain, encoded] : vectors) {
        Bytes bytes(plain.begin(), plain.end());
        EXPECT_EQ(Base64::encode(bytes), encoded);
        EXPECT_EQ(Base64::decode(encoded), bytes) << encoded;
    }
    std::string escaped;
    Base64::append(escaped, Bytes{0xff, 0xff, 0xff, 0xff}, true);
    EXPECT_EQ(escaped, R"(\/\/\/\/\/w==)");
}

TEST(Base64, RoundTripsEveryLengthAndByte) {
    std::mt19937 random(3);
    for (std::size_t length = 0; length < 300; ++length) {
        Bytes bytes(length);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(random());
        EXPECT_EQ(Base64::decode(Base64::encode(bytes)), bytes);
    }
}

TEST(Base64, RefusesMalformedText) {
    for (const char* text : {"Zg", "Zg=", "Zm9", "Z===", "Zg==Zg==", "Zm9v\n", " Zm9v", "Zm-v", "Zm_v",
                             "Zh==", "Zm9=", "=Zm9", "Zm=v"})
        EXPECT_FALSE(Base64::decode(text).has_value()) << text;
}
