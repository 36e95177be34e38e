#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pizzacore {

// An amount of money in whole cents.
using Cents = std::int64_t;

namespace Money {

// The largest price, line, order total or amount handed over: 999999,99 €.
inline constexpr Cents ceiling = 99'999'999;

// Reads an amount typed by the operator: one to six digits, optionally a point or comma and one or
// two decimals, with white space around it allowed. Gives 0 … ceiling; anything else throws
// PCError "Escribe un importe positivo con un máximo de dos decimales.".
Cents parse(std::string_view text);

// "1234,56 €": units without grouping, a comma, two decimals, a space and the euro sign.
std::string text(Cents cents);

// "1234,56": the same without the euro sign, to prefill a field that parse() reads back.
std::string input(Cents cents);

} // namespace Money
} // namespace pizzacore
