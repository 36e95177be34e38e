#pragma once

#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Foundation/Record.hpp>
#include <PizzaCore/Models/Enumerations.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pizzacore {

// Business data, ticket options and the business clock. `currency` is set by the fiscal
// settings; `closingHour`:`closingMinute` in `timeZone` ends each business day; an empty
// `printer` means the system's default printer. `saveCardOnConfirm`, `printOnConfirm` and
// `openDrawerOnCash` are absent until the operator sets them, so that documents written before
// they existed open unchanged and read with their defaults: see savesCardOnConfirm(),
// printsOnConfirm() and opensDrawerOnCash().
// `printReportOnClose` prints each shift's closing report as the shift closes; off when absent.
// `callerIDDevice` is the serial device of a caller-ID modem ("/dev/ttyACM0"); absent, no modem.
#define PIZZACORE_SETTINGS_FIELDS(X)                                                                         \
    X(std::optional<std::string>, currency)                                                                  \
    X(std::string, business, "Mi restaurante")                                                               \
    X(std::string, taxID)                                                                                    \
    X(std::string, phone)                                                                                    \
    X(std::string, address)                                                                                  \
    X(std::string, footer, "Gracias por tu pedido")                                                          \
    X(std::optional<Bytes>, logo)                                                                            \
    X(Paper, paper, Paper::a4)                                                                               \
    X(bool, kitchen, true)                                                                                   \
    X(bool, bar, false)                                                                                      \
    X(bool, customer, true)                                                                                  \
    X(bool, fullCopies, false)                                                                               \
    X(std::int64_t, closingHour, 4)                                                                          \
    X(std::int64_t, closingMinute, 0)                                                                        \
    X(std::string, timeZone, "Europe/Madrid")                                                                \
    X(std::string, printer)                                                                                  \
    X(std::optional<bool>, saveCardOnConfirm)                                                                \
    X(std::optional<bool>, printOnConfirm)                                                                   \
    X(std::optional<bool>, openDrawerOnCash)                                                                 \
    X(std::optional<bool>, printReportOnClose)                                                               \
    X(std::optional<std::string>, callerIDDevice)

struct Settings {
    PIZZACORE_RECORD(Settings, PIZZACORE_SETTINGS_FIELDS)

    // `currency` when set, otherwise "EUR".
    std::string currencyCode() const;
    // The ticket destinations switched on, in the order kitchen, bar, customer.
    std::vector<Recipient> recipients() const;
    // Whether confirming an order also saves the caller's card: on unless switched off.
    bool savesCardOnConfirm() const;
    // Whether confirming an order prints its tickets at once: when never set, on exactly when
    // a preferred printer is chosen, since without one there is nowhere to print unasked.
    bool printsOnConfirm() const;
    // Whether registering a cash payment opens the cash drawer through the ticket printer: off
    // unless switched on.
    bool opensDrawerOnCash() const;
};

} // namespace pizzacore
