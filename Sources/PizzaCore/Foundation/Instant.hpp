#pragma once

#include <compare>

namespace pizzacore {

// A point in time: seconds, with fraction, since 2001-01-01 00:00:00 UTC.
struct Instant {
    double seconds = 0;

    // Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC.
    static constexpr double unixOffset = 978307200.0;

    static Instant now();
    static constexpr Instant fromUnix(double unixSeconds) { return Instant{unixSeconds - unixOffset}; }
    constexpr double unixSeconds() const { return seconds + unixOffset; }

    auto operator<=>(const Instant&) const = default;
};

} // namespace pizzacore
