#include "Settings.hpp"

namespace pizzacore {

std::string Settings::currencyCode() const {
    return currency.value_or("EUR");
}

std::vector<Recipient> Settings::recipients() const {
    std::vector<Recipient> result;
    if (kitchen) result.push_back(Recipient::kitchen);
    if (bar) result.push_back(Recipient::bar);
    if (customer) result.push_back(Recipient::customer);
    return result;
}

bool Settings::savesCardOnConfirm() const {
    return saveCardOnConfirm.value_or(true);
}

bool Settings::printsOnConfirm() const {
    return printOnConfirm.value_or(!printer.empty());
}

bool Settings::opensDrawerOnCash() const {
    return openDrawerOnCash.value_or(false);
}

} // namespace pizzacore
