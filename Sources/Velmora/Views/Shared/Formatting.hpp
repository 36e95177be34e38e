#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Models/Money.hpp>
#include <PizzaCore/Models/Settings.hpp>
#endif

#include <Velmora/Platform/QtText.hpp>

#include <QString>

#include <string>
#include <string_view>

namespace velmora {

// The amounts and moments the screens show; qtext(), utf8() and the date and time texts come
// from Platform/QtText.hpp.

// The amount with the document's currency code ("EUR" when none is set): "12,50 EUR".
QString amountText(pizzacore::Cents cents, const pizzacore::Settings& settings);

// When something happened, as an order list reads it at `now`: "13:05 · hace 12 min" within the
// last day ("hace menos de 1 min", "hace 3 h"), otherwise the date and time.
QString whenText(pizzacore::Instant instant, pizzacore::Instant now);

} // namespace velmora
