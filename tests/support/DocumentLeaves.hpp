#pragma once

// Every text, integer, instant and flag stored in a document, reached through the records' field
// lists, so that tests and fuzzers can put a hostile value into any of them; and the promise a
// writer must keep about such documents.

#include <PizzaCore/Json/Traits.hpp>
#include <PizzaCore/PizzaCore.hpp>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

namespace pizzacore::testing {

using Leaf = std::variant<std::string*, std::int64_t*, Instant*, bool*>;

// With `fillAbsent`, absent optional texts, integers and instants are given a value first, so
// that they are reached too.
template <class T>
void collectLeaves(T& value, std::vector<Leaf>& out, bool fillAbsent) {
    // A const value would match none of the cases below and be skipped without a word.
    static_assert(!std::is_const_v<T>);
    if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::int64_t> ||
                  std::is_same_v<T, Instant> || std::is_same_v<T, bool>) {
        out.push_back(&value);
    } else if constexpr (json::IsOptional<T>::value) {
        using Inner = typename json::IsOptional<T>::Inner;
        if (!value && fillAbsent &&
            (std::is_same_v<Inner, std::string> || std::is_same_v<Inner, std::int64_t> ||
             std::is_same_v<Inner, Instant>))
            value.emplace();
        if (value) collectLeaves(*value, out, fillAbsent);
    } else if constexpr (json::IsList<T>::value) {
        if constexpr (requires { value.modify(std::size_t{0}); }) {
            // A record list hands out writable records only through modify.
            for (std::size_t i = 0; i < value.size(); ++i)
                collectLeaves(value.modify(i), out, fillAbsent);
        } else {
            for (auto& element : value)
                collectLeaves(element, out, fillAbsent);
        }
    } else if constexpr (std::is_same_v<T, std::map<std::string, std::int64_t>>) {
        for (auto& entry : value)
            out.push_back(&entry.second);
    } else if constexpr (Record<T>) {
        std::apply(
            [&](const auto&... field) { (collectLeaves(value.*(field.member), out, fillAbsent), ...); },
            T::fields());
    }
    // Identifiers, bytes and enumerations have no hostile form in memory.
}

inline std::vector<Leaf> leavesOf(Database& db, bool fillAbsent = false) {
    std::vector<Leaf> leaves;
    collectLeaves(db, leaves, fillAbsent);
    return leaves;
}

// Whatever encode accepts must decode to an equal document: gives nothing when that holds (the
// document is refused by a PCError or JSONError, or reads back equal), otherwise what went wrong.
inline std::optional<std::string> encodeBreaksRoundTrip(const Database& db) {
    std::string bytes;
    try {
        bytes = Repository::encode(db);
    } catch (const PCError&) {
        return std::nullopt;
    } catch (const JSONError&) {
        return std::nullopt;
    }
    try {
        if (!(Repository::decode(bytes) == db)) return "the document reads back different";
    } catch (const PCError& error) {
        return "the encoded document is refused: " + error.message();
    } catch (const JSONError& error) {
        return std::string("the encoded document cannot be read: ") + error.what();
    }
    return std::nullopt;
}

} // namespace pizzacore::testing
