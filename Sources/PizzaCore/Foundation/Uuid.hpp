#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pizzacore {

// A 128-bit identifier, written as canonical 8-4-4-4-12 upper-case text.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    // A new version 4 (random) identifier from the operating system's random source.
    static Uuid random();
    // Reads the canonical 36-character form, hexadecimal digits in either case.
    static std::optional<Uuid> parse(std::string_view text);

    std::string text() const;
    // Writes the 36 characters of text() to `out`, which must have room for them.
    void write(char* out) const;

    auto operator<=>(const Uuid&) const = default;
};

} // namespace pizzacore

template <>
struct std::hash<pizzacore::Uuid> {
    std::size_t operator()(const pizzacore::Uuid& uuid) const noexcept;
};
