#pragma once

#include <PizzaCore/Foundation/Instant.hpp>

#include <memory>
#include <string>

namespace pizzacore::documents {

// Writes instants for printed documents: the abbreviated date ("7 dic 2026") and, when asked, the
// short time ("13:05") in the user's locale and in the computer's time zone, the way the
// operator reads dates everywhere else on the desktop. One formatter serves one document.
class DateText {
public:
    explicit DateText(bool withTime);
    ~DateText();
    DateText(const DateText&) = delete;
    DateText& operator=(const DateText&) = delete;

    // An instant that no calendar can hold (not finite, or millions of years away) gives an
    // empty text rather than a wrong date.
    std::string format(Instant instant) const;

private:
    struct Formatter;
    std::unique_ptr<Formatter> formatter_;
};

// The locale dates are written in, as an identifier such as "es_ES": the first of LC_ALL,
// LC_TIME and LANG that is set; "es_ES" when none is, or when it is C or POSIX.
std::string dateLocale();

} // namespace pizzacore::documents
