#include <Velmora/Platform/QtText.hpp>

#include <QLocale>

#include <cmath>

namespace velmora {

QDateTime localDateTime(pizzacore::Instant instant) {
    const double seconds = instant.unixSeconds();
    // Beyond about three million years either way Qt's dates cannot follow; nothing is shown.
    if (!std::isfinite(seconds) || std::abs(seconds) > 1e14) return {};
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(seconds * 1000.0)));
}

QString dateTimeText(pizzacore::Instant instant) {
    return dateText(instant) + QStringLiteral(", ") + timeText(instant);
}

QString dateText(pizzacore::Instant instant) {
    return QLocale().toString(localDateTime(instant).date(), QStringLiteral("d MMM yyyy"));
}

QString timeText(pizzacore::Instant instant) {
    // Hours and minutes, as a till shows them; some locales' short format carries seconds too.
    return QLocale().toString(localDateTime(instant).time(), QStringLiteral("HH:mm"));
}

} // namespace velmora
