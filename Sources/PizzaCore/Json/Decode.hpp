#pragma once

// Reading values: each record reads the keys it knows, in whatever order they come, then builds
// itself in one step once every required key has been seen.

#include <PizzaCore/Foundation/Record.hpp>
#include <PizzaCore/Json/Reader.hpp>
#include <PizzaCore/Json/Traits.hpp>
#include <PizzaCore/Models/Enumerations.hpp>

#include <map>
#include <string>
#include <vector>

namespace pizzacore::json {

template <class T>
struct Tag {};

inline std::string decode(Element e, Tag<std::string>) {
    return readString(e);
}
inline bool decode(Element e, Tag<bool>) {
    return readBool(e);
}
inline std::int64_t decode(Element e, Tag<std::int64_t>) {
    return readInteger(e);
}
inline Instant decode(Element e, Tag<Instant>) {
    return readInstant(e);
}
inline Uuid decode(Element e, Tag<Uuid>) {
    return readUuid(e);
}
inline Bytes decode(Element e, Tag<Bytes>) {
    return readBytes(e);
}

template <Enumeration E>
E decode(Element e, Tag<E>) {
    std::string_view text = readStringView(e);
    auto value = enumFromRawValue<E>(text);
    if (!value) failUnknownText(text);
    return *value;
}

template <class T>
requires IsList<T>::value T decode(Element e, Tag<T>);

template <Record T>
T decode(Element e, Tag<T>);

inline std::map<std::string, std::int64_t> decode(Element e, Tag<std::map<std::string, std::int64_t>>) {
    std::map<std::string, std::int64_t> map;
    for (auto [key, value] : readObject(e)) {
        try {
            map.insert_or_assign(std::string(key), readInteger(value));
        } catch (JSONError& error) {
            error.prependKey(key);
            throw;
        }
    }
    return map;
}

template <class T>
requires IsList<T>::value T decode(Element e, Tag<T>) {
    using Value = typename IsList<T>::Element;
    auto array = readArray(e);
    T list;
    list.reserve(array.size());
    std::size_t index = 0;
    for (Element item : array) {
        try {
            // Moved into its place in the list: nothing is copied.
            list.emplace_back(decode(item, Tag<Value>{}));
        } catch (JSONError& error) {
            error.prependIndex(index);
            throw;
        }
        ++index;
    }
    return list;
}

// Where a field's value waits until the record is built: optional fields hold their own
// optional; required fields an optional that is empty until the key is read.
template <class M>
using Slot = std::conditional_t<IsOptional<M>::value, M, std::optional<M>>;

template <class M>
void readSlot(Slot<M>& slot, Element value) {
    if constexpr (IsOptional<M>::value) {
        if (value.is_null())
            slot.reset();
        else
            slot = decode(value, Tag<typename IsOptional<M>::Inner>{});
    } else {
        slot = decode(value, Tag<M>{});
    }
}

template <class M>
M&& takeSlot(Slot<M>& slot) {
    if constexpr (IsOptional<M>::value)
        return std::move(slot);
    else
        return std::move(*slot);
}

template <class T, class Fields, std::size_t... I>
auto slotsFor(const Fields&, std::index_sequence<I...>)
    -> std::tuple<Slot<typename std::tuple_element_t<I, Fields>::Type>...>;

template <Record T>
T decode(Element e, Tag<T>) {
    static constexpr auto fields = T::fields();
    constexpr std::size_t count = fieldCount<T>;
    using Indices = std::make_index_sequence<count>;
    decltype(slotsFor<T>(fields, Indices{})) slots;

    for (const auto& member : readObject(e)) {
        // Named copies rather than structured bindings, which clang 14 cannot capture in lambdas.
        const std::string_view key = member.key;
        const auto value = member.value;
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            auto readIfNamed = [&]<std::size_t N>(std::integral_constant<std::size_t, N>) {
                const auto& field = std::get<N>(fields);
                if (key != field.name) return false;
                try {
                    readSlot<typename std::remove_cvref_t<decltype(field)>::Type>(std::get<N>(slots), value);
                } catch (JSONError& error) {
                    error.prependKey(field.name);
                    throw;
                }
                return true;
            };
            // Unknown keys match no field and are ignored.
            (void)(readIfNamed(std::integral_constant<std::size_t, I>{}) || ...);
        }
        (Indices{});
    }

    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        auto requirePresent = [&]<std::size_t N>(std::integral_constant<std::size_t, N>) {
            using M = typename std::tuple_element_t<N, std::remove_cvref_t<decltype(fields)>>::Type;
            if constexpr (!IsOptional<M>::value) {
                if (!std::get<N>(slots))
                    throw JSONError("falta este campo obligatorio", std::string(std::get<N>(fields).name));
            }
        };
        (requirePresent(std::integral_constant<std::size_t, I>{}), ...);
        using Members = std::remove_cvref_t<decltype(fields)>;
        return T{takeSlot<typename std::tuple_element_t<I, Members>::Type>(std::get<I>(slots))...};
    }
    (Indices{});
}

} // namespace pizzacore::json
