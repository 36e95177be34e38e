#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pizzacore::FiscalMoney {

// "-12.34": a minus sign for a negative amount, the units without grouping, a point and two
// decimals. Used for XML, addresses and tax rates in hundredths of a per cent (2100 gives "21.00").
std::string decimal(std::int64_t cents);

// "-12,34 EUR": decimal() with a comma, a space and the currency code. The text for people.
std::string text(std::int64_t cents, std::string_view currency);

} // namespace pizzacore::FiscalMoney
