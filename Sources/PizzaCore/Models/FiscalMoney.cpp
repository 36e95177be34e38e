#include "FiscalMoney.hpp"

namespace pizzacore::FiscalMoney {

namespace {

std::string write(std::int64_t cents, char separator) {
    const bool negative = cents < 0;
    // Unsigned magnitude, so that INT64_MIN is written without overflow.
    std::uint64_t magnitude = static_cast<std::uint64_t>(cents);
    if (negative) magnitude = 0 - magnitude;
    char buffer[24];
    char* const end = buffer + sizeof buffer;
    char* p = end;
    std::uint64_t units = magnitude / 100;
    const std::uint64_t rest = magnitude % 100;
    *--p = static_cast<char>('0' + rest % 10);
    *--p = static_cast<char>('0' + rest / 10);
    *--p = separator;
    do {
        *--p = static_cast<char>('0' + units % 10);
        units /= 10;
    } while (units != 0);
    if (negative) *--p = '-';
    return std::string(p, end);
}

} // namespace

std::string decimal(std::int64_t cents) {
    return write(cents, '.');
}

std::string text(std::int64_t cents, std::string_view currency) {
    std::string result = write(cents, ',');
    result += ' ';
    result += currency;
    return result;
}

} // namespace pizzacore::FiscalMoney
