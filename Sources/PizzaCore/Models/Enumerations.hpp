#pragma once

// The enumerations of the document. Each case is stored as its Spanish text, which is also the
// text shown to the operator; EnumCases lists every case with its text, in display order.

#include <PizzaCore/Foundation/Enumeration.hpp>

#include <array>
#include <string_view>
#include <utility>

namespace pizzacore {

// How the customer gets the order.
enum class Mode { pickup, local, delivery };
// The state of a confirmed order.
enum class Preparation { preparing, ready, delivered, cancelled };
enum class PaymentMethod { cash, card };
// The ticket paper.
enum class Paper { a4, mm58, mm80 };
// A ticket destination; never stored.
enum class Recipient { kitchen, bar, customer };

template <>
struct EnumCases<Mode> {
    static constexpr std::array<std::pair<Mode, std::string_view>, 3> cases{{
        {Mode::pickup, "Recoger"},
        {Mode::local, "Comer en local"},
        {Mode::delivery, "Domicilio"},
    }};
};

template <>
struct EnumCases<Preparation> {
    static constexpr std::array<std::pair<Preparation, std::string_view>, 4> cases{{
        {Preparation::preparing, "En preparación"},
        {Preparation::ready, "Listo"},
        {Preparation::delivered, "Entregado"},
        {Preparation::cancelled, "Anulado"},
    }};
};

template <>
struct EnumCases<PaymentMethod> {
    static constexpr std::array<std::pair<PaymentMethod, std::string_view>, 2> cases{{
        {PaymentMethod::cash, "Efectivo"},
        {PaymentMethod::card, "Tarjeta"},
    }};
};

template <>
struct EnumCases<Paper> {
    static constexpr std::array<std::pair<Paper, std::string_view>, 3> cases{{
        {Paper::a4, "A4"},
        {Paper::mm58, "58 mm"},
        {Paper::mm80, "80 mm"},
    }};
};

template <>
struct EnumCases<Recipient> {
    static constexpr std::array<std::pair<Recipient, std::string_view>, 3> cases{{
        {Recipient::kitchen, "Cocina"},
        {Recipient::bar, "Barra"},
        {Recipient::customer, "Cliente / reparto"},
    }};
};

} // namespace pizzacore
