#pragma once

#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Foundation/RecordList.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

namespace pizzacore::json {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {
    using Inner = T;
};

template <class T>
struct IsList : std::false_type {};
template <class T>
struct IsList<std::vector<T>> : std::bool_constant<!std::is_same_v<T, std::uint8_t>> {
    using Element = T;
};
// The document's record lists are written and read exactly as the vectors they replace.
template <class T>
struct IsList<RecordList<T>> : std::true_type {
    using Element = T;
};

template <class T>
inline constexpr std::size_t fieldCount = std::tuple_size_v<decltype(T::fields())>;

// The indices of a record's fields with their keys in ascending byte order, the order in which
// they are written.
template <class T>
constexpr auto sortedFieldOrder() {
    constexpr auto fields = T::fields();
    constexpr std::size_t count = fieldCount<T>;
    std::array<std::string_view, count> names{};
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        ((names[I] = std::get<I>(fields).name), ...);
    }
    (std::make_index_sequence<count>{});
    std::array<std::size_t, count> order{};
    for (std::size_t i = 0; i < count; ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return names[a] < names[b]; });
    return order;
}

} // namespace pizzacore::json
