#pragma once

#include <string_view>

namespace pizzacore {

// The text without the Unicode white space and line separators at either end (U+0009–U+000D,
// U+0020, U+0085, U+00A0, U+1680, U+2000–U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
// Inner characters are kept; bytes that are not valid UTF-8 are never removed. The result is a
// view into `text`.
std::string_view trimmed(std::string_view text);

// True when the text holds nothing but white space and line separators.
bool isBlank(std::string_view text);

} // namespace pizzacore
