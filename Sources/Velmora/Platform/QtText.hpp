#pragma once

// The document holds UTF-8; Qt holds UTF-16. These two are the only conversions between them, so
// that every screen and the controller read and write texts the same way. The same goes for the
// document's instants as the operator reads them.

#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Instant.hpp>
#endif

#include <QDateTime>
#include <QString>

#include <string>
#include <string_view>

namespace velmora {

inline QString qtext(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string utf8(const QString& text) {
    return text.toStdString();
}

// The instant in the user's time zone; invalid beyond the years Qt's dates can follow.
QDateTime localDateTime(pizzacore::Instant instant);
// "7 mar 2025, 13:05" in the user's locale and time zone.
QString dateTimeText(pizzacore::Instant instant);
// "7 mar 2025".
QString dateText(pizzacore::Instant instant);
// "13:05".
QString timeText(pizzacore::Instant instant);

} // namespace velmora
