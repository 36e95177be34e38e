#include "DateText.hpp"

#include <PizzaCore/Foundation/TextCompare.hpp>

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace pizzacore::documents {

struct DateText::Formatter {
    std::unique_ptr<icu::DateFormat> format;
};

std::string dateLocale() {
    return textLocale(std::getenv("LC_ALL"), std::getenv("LC_TIME"), std::getenv("LANG"));
}

DateText::DateText(bool withTime)
    : formatter_(std::make_unique<Formatter>()) {
    const icu::Locale locale(dateLocale().c_str());
    formatter_->format.reset(icu::DateFormat::createDateTimeInstance(
        icu::DateFormat::kMedium, withTime ? icu::DateFormat::kShort : icu::DateFormat::kNone, locale));
    if (!formatter_->format) return;
    if (icu::TimeZone* zone = icu::TimeZone::detectHostTimeZone()) formatter_->format->adoptTimeZone(zone);
}

DateText::~DateText() = default;

std::string DateText::format(Instant instant) const {
    // Years beyond ±1,000,000 are not dates anyone prints; ICU would write them oddly.
    constexpr double limit = 3.0e13;
    const double unixSeconds = instant.unixSeconds();
    if (!formatter_->format || !std::isfinite(unixSeconds) || std::fabs(unixSeconds) > limit) return {};
    icu::UnicodeString text;
    formatter_->format->format(unixSeconds * 1000.0, text);
    std::string result;
    text.toUTF8String(result);
    return result;
}

} // namespace pizzacore::documents
