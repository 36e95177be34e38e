#pragma once

#include <string>
#include <string_view>

namespace pizzacore {

// The form under which telephone numbers are compared: only the ASCII digits, without a leading
// international prefix "00" and, on an 11-digit number beginning with 34, without the Spanish
// country code. "+34 612 345 678", "0034 612345678" and "612 34 56 78" all give "612345678".
std::string phoneKey(std::string_view text);

// A telephone number is valid when its key has 7 to 15 digits.
bool isValidPhone(std::string_view text);

} // namespace pizzacore
