#include <Velmora/Views/Shared/Formatting.hpp>

#include <PizzaCore/Models/FiscalMoney.hpp>

#include <cmath>

namespace velmora {

QString amountText(pizzacore::Cents cents, const pizzacore::Settings& settings) {
    return qtext(pizzacore::FiscalMoney::text(cents, settings.currency.value_or("EUR")));
}

QString whenText(pizzacore::Instant instant, pizzacore::Instant now) {
    const double elapsed = now.unixSeconds() - instant.unixSeconds();
    // A clock set back shows the time alone; a day or more ago, the date as well.
    if (!std::isfinite(elapsed) || elapsed < 0) return timeText(instant);
    if (elapsed >= 86400) return dateTimeText(instant);
    const auto minutes = static_cast<long long>(elapsed / 60);
    QString ago;
    if (minutes < 1)
        ago = QStringLiteral("hace menos de 1 min");
    else if (minutes < 60)
        ago = QStringLiteral("hace %1 min").arg(minutes);
    else
        ago = QStringLiteral("hace %1 h").arg(minutes / 60);
    return timeText(instant) + QStringLiteral(" · ") + ago;
}

} // namespace velmora
