#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pizzacore {

using Bytes = std::vector<std::uint8_t>;

namespace Base64 {

inline constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each alphabet character; 0xFF for every other byte.
inline constexpr std::array<std::uint8_t, 256> values = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(0xFF);
    for (std::uint8_t i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}();

// Standard Base64 with padding and no line breaks.
std::string encode(std::span<const std::uint8_t> bytes);
// Appends the Base64 text to `out`; with `escapeSlash` every "/" is written as "\/", as the
// document's JSON form wants inside strings.
void append(std::string& out, std::span<const std::uint8_t> bytes, bool escapeSlash = false);
// Strict decoding: length a multiple of four, padding only at the end, nothing outside the
// alphabet (no whitespace). Gives nothing for any other text.
std::optional<Bytes> decode(std::string_view text);
// The same decoding into a string that keeps `spareCapacity` bytes of room after its end (a JSON
// reader that needs padding can then read it in place).
std::optional<std::string> decodeToString(std::string_view text, std::size_t spareCapacity = 0);

} // namespace Base64
} // namespace pizzacore
