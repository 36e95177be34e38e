#pragma once

// Records declare each stored field exactly once, in a field list macro that takes the macro X
// and calls it once per field: X(type, name) or X(type, name, default). For example the
// customer card lists X(Uuid, id, Uuid::random()) then X(std::string, name) and so on, and its
// struct body is the single line PIZZACORE_RECORD(Customer, PIZZACORE_CUSTOMER_FIELDS).
//
// PIZZACORE_RECORD turns the list into the data members (with their defaults), a defaulted
// operator== and a constexpr `fields()` tuple that the JSON reader and writer walk. Adding a
// field is one line in the list. The record stays an aggregate, so the reader can build it in
// one step from values it has read, without first drawing default identifiers or instants.

#include <string_view>
#include <tuple>

namespace pizzacore {

// One stored field: its JSON key, the key already quoted for the writer, and its member.
template <class Record, class Member>
struct Field {
    using RecordType = Record;
    using Type = Member;
    std::string_view name;
    std::string_view quotedKey;
    Member Record::*member;
};

namespace detail {
struct FieldListStart {};
template <class... F>
constexpr std::tuple<F...> fieldList(FieldListStart, F... fields) {
    return std::tuple<F...>{fields...};
}
} // namespace detail

template <class T>
concept Record = requires {
    T::fields();
};

} // namespace pizzacore

// clang-format off
#define PIZZACORE_MEMBER(type, name, ...) type name __VA_OPT__(= __VA_ARGS__);
#define PIZZACORE_FIELD_ENTRY(type, name, ...)                                                               \
    , ::pizzacore::Field<Self, type> { #name, "\"" #name "\":", &Self::name }

#define PIZZACORE_RECORD(Type, LIST)                                                                         \
    LIST(PIZZACORE_MEMBER)                                                                                   \
    bool operator==(const Type&) const = default;                                                            \
    static constexpr auto fields() {                                                                         \
        using Self = Type;                                                                                   \
        return ::pizzacore::detail::fieldList(::pizzacore::detail::FieldListStart{} LIST(PIZZACORE_FIELD_ENTRY)); \
    }
// clang-format on
