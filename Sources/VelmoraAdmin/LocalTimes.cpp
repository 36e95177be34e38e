#include "LocalTimes.hpp"

#include <unicode/gregocal.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velmora::admin {

struct LocalTimes::Calendar {
    std::unique_ptr<icu::GregorianCalendar> gregorian;
};

struct LocalTimes::Fields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int offsetMinutes = 0;
};

LocalTimes::LocalTimes(std::string_view zone)
    : calendar_(std::make_unique<Calendar>()) {
    std::unique_ptr<icu::TimeZone> timeZone(icu::TimeZone::createTimeZone(
        icu::UnicodeString::fromUTF8(icu::StringPiece(zone.data(), static_cast<int32_t>(zone.size())))));
    if (!timeZone || *timeZone == icu::TimeZone::getUnknown()) timeZone.reset(icu::TimeZone::createDefault());
    UErrorCode status = U_ZERO_ERROR;
    // The calendar adopts the zone.
    auto gregorian = std::make_unique<icu::GregorianCalendar>(timeZone.release(), status);
    if (U_SUCCESS(status)) calendar_->gregorian = std::move(gregorian);
}

LocalTimes::~LocalTimes() = default;

bool LocalTimes::fields(pizzacore::Instant instant, Fields& out) const {
    if (!calendar_->gregorian) return false;
    const double millis = std::floor(instant.unixSeconds()) * 1000.0;
    // Far beyond any real order (about 300,000 years); keeps the calendar inside its range.
    if (!std::isfinite(millis) || std::fabs(millis) > 1e16) return false;
    icu::GregorianCalendar& calendar = *calendar_->gregorian;
    UErrorCode status = U_ZERO_ERROR;
    calendar.setTime(millis, status);
    out.year = calendar.get(UCAL_EXTENDED_YEAR, status);
    out.month = calendar.get(UCAL_MONTH, status) + 1;
    out.day = calendar.get(UCAL_DATE, status);
    out.hour = calendar.get(UCAL_HOUR_OF_DAY, status);
    out.minute = calendar.get(UCAL_MINUTE, status);
    out.second = calendar.get(UCAL_SECOND, status);
    const int offsetMillis = calendar.get(UCAL_ZONE_OFFSET, status) + calendar.get(UCAL_DST_OFFSET, status);
    out.offsetMinutes = offsetMillis / 60000;
    return U_SUCCESS(status) && out.year >= 0 && out.year <= 9999;
}

std::string LocalTimes::iso(pizzacore::Instant instant) const {
    Fields f;
    if (!fields(instant, f)) return {};
    const int offset = std::abs(f.offsetMinutes);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", f.year, f.month, f.day,
                  f.hour, f.minute, f.second, f.offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return buffer;
}

std::string LocalTimes::dateTime(pizzacore::Instant instant) const {
    Fields f;
    if (!fields(instant, f)) return "—";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d", f.year, f.month, f.day, f.hour,
                  f.minute);
    return buffer;
}

std::string LocalTimes::time(pizzacore::Instant instant) const {
    Fields f;
    if (!fields(instant, f)) return "—";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d", f.hour, f.minute);
    return buffer;
}

} // namespace velmora::admin
