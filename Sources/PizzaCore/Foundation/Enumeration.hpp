#pragma once

// Enumerations whose cases are stored as texts: a specialisation of EnumCases lists every case
// with its text, in display order, and these helpers turn cases into texts and back.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace pizzacore {

template <class E>
struct EnumCases;

template <class E>
concept Enumeration = requires {
    EnumCases<E>::cases;
};

// The stored and displayed text of a case.
template <Enumeration E>
constexpr std::string_view rawValue(E value) {
    for (const auto& [c, text] : EnumCases<E>::cases)
        if (c == value) return text;
    return {};
}

// The case whose stored text is exactly `text` (case and accents included), if any.
template <Enumeration E>
constexpr std::optional<E> enumFromRawValue(std::string_view text) {
    for (const auto& [c, stored] : EnumCases<E>::cases)
        if (stored == text) return c;
    return std::nullopt;
}

// Every case, in display order.
template <Enumeration E>
constexpr auto allCases() {
    std::array<E, EnumCases<E>::cases.size()> result{};
    for (std::size_t i = 0; i < result.size(); ++i)
        result[i] = EnumCases<E>::cases[i].first;
    return result;
}

} // namespace pizzacore
