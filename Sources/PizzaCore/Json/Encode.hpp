#pragma once

// Writing values: each record walks its field declaration in key order.

#include <PizzaCore/Foundation/Record.hpp>
#include <PizzaCore/Json/Traits.hpp>
#include <PizzaCore/Json/Writer.hpp>
#include <PizzaCore/Models/Enumerations.hpp>

#include <map>
#include <string>

namespace pizzacore::json {

inline void encode(Writer& w, const std::string& value) {
    w.string(value);
}
inline void encode(Writer& w, bool value) {
    w.boolean(value);
}
inline void encode(Writer& w, std::int64_t value) {
    w.integer(value);
}
inline void encode(Writer& w, const Instant& value) {
    w.number(value.seconds);
}
inline void encode(Writer& w, const Uuid& value) {
    w.uuid(value);
}
inline void encode(Writer& w, const Bytes& value) {
    w.bytes(value);
}

template <Enumeration E>
void encode(Writer& w, E value) {
    w.string(rawValue(value));
}

template <class T>
requires IsList<T>::value void encode(Writer& w, const T& list);

template <Record T>
void encode(Writer& w, const T& record);

inline void encode(Writer& w, const std::map<std::string, std::int64_t>& map) {
    w.raw('{');
    bool first = true;
    for (const auto& [key, value] : map) {
        if (!first) w.raw(',');
        first = false;
        w.string(key);
        w.raw(':');
        w.integer(value);
    }
    w.raw('}');
}

template <class T>
requires IsList<T>::value void encode(Writer& w, const T& list) {
    w.raw('[');
    bool first = true;
    for (const auto& element : list) {
        if (!first) w.raw(',');
        first = false;
        encode(w, element);
    }
    w.raw(']');
}

template <class Owner, class Member>
void encodeField(Writer& w, const Owner& record, const Field<Owner, Member>& field, bool& first) {
    const Member& value = record.*field.member;
    if constexpr (IsOptional<Member>::value) {
        if (!value) return;
    }
    if (!first) w.raw(',');
    first = false;
    w.raw(field.quotedKey);
    if constexpr (IsOptional<Member>::value)
        encode(w, *value);
    else
        encode(w, value);
}

template <Record T>
void encode(Writer& w, const T& record) {
    static constexpr auto fields = T::fields();
    static constexpr auto order = sortedFieldOrder<T>();
    w.raw('{');
    bool first = true;
    [&]<std::size_t... K>(std::index_sequence<K...>) {
        (encodeField(w, record, std::get<order[K]>(fields), first), ...);
    }
    (std::make_index_sequence<fieldCount<T>>{});
    w.raw('}');
}

// A generous estimate of the written size, so that the output grows once instead of doubling
// its way up (every doubling copies and touches fresh memory).
inline std::size_t sizeHint(const std::string& value) {
    return value.size() + value.size() / 8 + 2;
}
inline std::size_t sizeHint(bool) {
    return 5;
}
inline std::size_t sizeHint(std::int64_t) {
    return 20;
}
inline std::size_t sizeHint(const Instant&) {
    return 24;
}
inline std::size_t sizeHint(const Uuid&) {
    return 38;
}
inline std::size_t sizeHint(const Bytes& value) {
    return (value.size() + 2) / 3 * 4 * 33 / 32 + 2;
}
template <Enumeration E>
std::size_t sizeHint(E) {
    return 24;
}
inline std::size_t sizeHint(const std::map<std::string, std::int64_t>& map) {
    std::size_t size = 2;
    for (const auto& [key, value] : map)
        size += sizeHint(key) + 22;
    return size;
}
template <Record T>
std::size_t sizeHint(const T& record);
template <class T>
requires IsList<T>::value std::size_t sizeHint(const T& list) {
    std::size_t size = 2 + list.size();
    for (const auto& element : list)
        size += sizeHint(element);
    return size;
}
template <Record T>
std::size_t sizeHint(const T& record) {
    std::size_t size = 2;
    std::apply(
        [&](const auto&... field) {
            auto one = [&](const auto& f) {
                const auto& value = record.*f.member;
                if constexpr (IsOptional<std::remove_cvref_t<decltype(value)>>::value) {
                    if (value) size += f.quotedKey.size() + 1 + sizeHint(*value);
                } else {
                    size += f.quotedKey.size() + 1 + sizeHint(value);
                }
            };
            (one(field), ...);
        },
        T::fields());
    return size;
}

} // namespace pizzacore::json
