#include "Text.hpp"

#include <array>

namespace pizzacore {

namespace {

// The UTF-8 encodings of the white space characters of more than one byte. Every one starts with
// a lead byte (never a continuation byte), so matching whole encodings at either end can neither
// split a character nor take part of an invalid sequence.
constexpr std::array<std::string_view, 19> wideSpaces{
    "\u0085", "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006",
    "\u2007", "\u2008", "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000",
};

bool isAsciiSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Length in bytes of the white space character that `text` starts with (atFront) or ends with,
// or 0 when there is none.
std::size_t spaceLength(std::string_view text, bool atFront) {
    if (text.empty()) return 0;
    if (isAsciiSpace(atFront ? text.front() : text.back())) return 1;
    auto matches = [&](std::string_view space) {
        return atFront ? text.starts_with(space) : text.ends_with(space);
    };
    for (std::string_view space : wideSpaces)
        if (matches(space)) return space.size();
    return 0;
}

} // namespace

std::string_view trimmed(std::string_view text) {
    while (std::size_t n = spaceLength(text, true))
        text.remove_prefix(n);
    while (std::size_t n = spaceLength(text, false))
        text.remove_suffix(n);
    return text;
}

bool isBlank(std::string_view text) {
    return trimmed(text).empty();
}

} // namespace pizzacore
