#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pizzacore {

using Bytes = std::vector<std::uint8_t>;

namespace Base64 {

// Standard Base64 with padding and no line breaks.
std::string encode(std::span<const std::uint8_t> bytes);
// Appends the Base64 text to `out`; with `escapeSlash` every "/" is written as "\/", as the
// document's JSON form wants inside strings.
void append(std::string& out, std::span<const std::uint8_t> bytes, bool escapeSlash = false);
// Strict decoding: length a multiple of four, padding only at the end, nothing outside the
// alphabet (no whitespace). Gives nothing for any other text.
std::optional<Bytes> decode(std::string_view text);

} // namespace Base64
} // namespace pizzacore
