#include "BusinessClock.hpp"

#include <PizzaCore/Foundation/PCError.hpp>

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace pizzacore::BusinessClock {
namespace {

// Instants the clock works with: from 0001-01-03 to 9999-12-28 UTC, so that every local date
// around them, and the day before and after it, has a four-digit year.
constexpr double earliestUnix = -62135596800.0 + 2 * 86400.0;
constexpr double latestUnix = 253402300800.0 - 4 * 86400.0;

void requireSupported(Instant instant) {
    const double unixTime = instant.unixSeconds();
    if (!std::isfinite(unixTime) || unixTime < earliestUnix || unixTime > latestUnix)
        throw PCError::invalid("La fecha queda fuera del intervalo admitido.");
}

void requireSuccess(UErrorCode status) {
    if (U_FAILURE(status)) throw PCError::invalid("No se ha podido calcular la fecha de la jornada.");
}

UDate toUDate(Instant instant) {
    return instant.unixSeconds() * 1000.0;
}
Instant fromUDate(UDate date) {
    return Instant::fromUnix(date / 1000.0);
}

icu::UnicodeString zoneID(std::string_view name) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(name.data(), static_cast<std::int32_t>(name.size())));
}

// The Gregorian calendar in the business time zone (the computer's zone when the name is not a
// known identifier). It is lenient, because only a lenient calendar resolves wall times that a
// clock change skips; a skipped time resolves to the next instant that exists, a repeated one to
// its first occurrence.
std::unique_ptr<icu::Calendar> calendar(const Settings& settings) {
    std::unique_ptr<icu::TimeZone> zone(isKnownTimeZone(settings.timeZone)
                                            ? icu::TimeZone::createTimeZone(zoneID(settings.timeZone))
                                            : icu::TimeZone::detectHostTimeZone());
    if (!zone) throw PCError::invalid("No se ha podido calcular la fecha de la jornada.");
    UErrorCode status = U_ZERO_ERROR;
    auto result = std::make_unique<icu::GregorianCalendar>(icu::Locale::getRoot(), status);
    requireSuccess(status);
    result->adoptTimeZone(zone.release());
    result->setLenient(true);
    result->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
    result->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    return result;
}

// A local date; `month` counts from 0 as in the calendar.
struct LocalDate {
    std::int32_t year;
    std::int32_t month;
    std::int32_t day;
};

LocalDate localDate(icu::Calendar& calendar) {
    UErrorCode status = U_ZERO_ERROR;
    LocalDate date{calendar.get(UCAL_YEAR, status), calendar.get(UCAL_MONTH, status),
                   calendar.get(UCAL_DATE, status)};
    requireSuccess(status);
    return date;
}

LocalDate localDate(icu::Calendar& calendar, Instant instant) {
    UErrorCode status = U_ZERO_ERROR;
    calendar.setTime(toUDate(instant), status);
    requireSuccess(status);
    return localDate(calendar);
}

// The closing time lies within one day; values outside 0–23 and 0–59 are held at those limits.
std::int32_t clamped(std::int64_t value, std::int32_t highest) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 0, highest));
}

// Sets the calendar to the local wall time hour:minute:00 on `date` moved by `days` days (the
// lenient calendar carries a day number past the month's end into the next month).
void setWallTime(icu::Calendar& calendar, LocalDate date, std::int32_t days, std::int32_t hour,
                 std::int32_t minute) {
    calendar.clear();
    calendar.set(date.year, date.month, date.day + days, hour, minute, 0);
}

// The closing instant on `date` moved by `days` days.
Instant closingOn(icu::Calendar& calendar, LocalDate date, std::int32_t days, const Settings& settings) {
    setWallTime(calendar, date, days, clamped(settings.closingHour, 23), clamped(settings.closingMinute, 59));
    UErrorCode status = U_ZERO_ERROR;
    const UDate time = calendar.getTime(status);
    requireSuccess(status);
    return fromUDate(time);
}

} // namespace

bool isKnownTimeZone(std::string_view name) {
    // Identifiers are short; the zone database would read a name only up to a NUL character.
    if (name.size() > 256 || name.find('\0') != std::string_view::npos) return false;
    icu::UnicodeString canonical;
    UBool systemID = false;
    UErrorCode status = U_ZERO_ERROR;
    icu::TimeZone::getCanonicalID(zoneID(name), canonical, systemID, status);
    return U_SUCCESS(status) && systemID;
}

Instant boundary(Instant instant, const Settings& settings) {
    requireSupported(instant);
    auto cal = calendar(settings);
    return closingOn(*cal, localDate(*cal, instant), 0, settings);
}

Instant next(Instant instant, const Settings& settings) {
    requireSupported(instant);
    auto cal = calendar(settings);
    const LocalDate date = localDate(*cal, instant);
    // The closing time of the instant's own date, else of the following date. The further days
    // only matter in a zone that once skipped a whole date.
    for (std::int32_t days = 0; days <= 3; ++days) {
        const Instant closing = closingOn(*cal, date, days, settings);
        if (closing > instant) return closing;
    }
    throw PCError::invalid("No se ha podido calcular la fecha de la jornada.");
}

std::string day(Instant instant, const Settings& settings) {
    requireSupported(instant);
    auto cal = calendar(settings);
    LocalDate date = localDate(*cal, instant);
    if (instant < closingOn(*cal, date, 0, settings)) {
        // Before the closing time: the night still belongs to the previous date. Noon keeps the
        // reading clear of any clock change.
        setWallTime(*cal, date, -1, 12, 0);
        date = localDate(*cal);
    }
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", static_cast<int>(date.year),
                  static_cast<int>(date.month + 1), static_cast<int>(date.day));
    return text;
}

} // namespace pizzacore::BusinessClock
