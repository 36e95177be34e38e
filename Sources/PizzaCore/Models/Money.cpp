#include "Money.hpp"

#include <PizzaCore/Models/FiscalMoney.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Text.hpp>
#include <cstddef>

namespace pizzacore::Money {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isPoint(char c) {
    return c == '.' || c == ',';
}

PCError refusal() {
    return PCError::invalid("Escribe un importe positivo con un máximo de dos decimales.");
}

} // namespace

Cents parse(std::string_view text) {
    // Accepts exactly ^\d{1,6}([.,]\d{1,2})?$ (ASCII digits) after trimming.
    const std::string_view s = trimmed(text);
    std::size_t i = 0;
    Cents units = 0;
    while (i < s.size() && isDigit(s[i])) {
        if (i == 6) throw refusal();
        units = units * 10 + (s[i] - '0');
        ++i;
    }
    if (i == 0) throw refusal();
    Cents cents = units * 100;
    if (i == s.size()) return cents;
    if (!isPoint(s[i])) throw refusal();
    const std::string_view fraction = s.substr(i + 1);
    if (fraction.empty() || fraction.size() > 2) throw refusal();
    for (char c : fraction)
        if (!isDigit(c)) throw refusal();
    // A single decimal counts as tenths: 7,5 is 750 cents.
    cents += (fraction[0] - '0') * 10;
    if (fraction.size() == 2) cents += fraction[1] - '0';
    return cents;
}

std::string text(Cents cents) {
    return input(cents) + " €";
}

std::string input(Cents cents) {
    // The fiscal decimal text always ends in a point and two decimals; only the separator differs.
    std::string result = FiscalMoney::decimal(cents);
    result[result.size() - 3] = ',';
    return result;
}

} // namespace pizzacore::Money
