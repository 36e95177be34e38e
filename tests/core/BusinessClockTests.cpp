#include <PizzaCore/PizzaCore.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <string>

namespace pizzacore {
namespace {

constexpr double hour = 3600;

// An instant given as UTC civil time, worked out without the code under test.
Instant utc(int year, unsigned month, unsigned day, int hh = 0, int mm = 0, double ss = 0) {
    using namespace std::chrono;
    const sys_days date{std::chrono::year{year} / std::chrono::month{month} / std::chrono::day{day}};
    const double unix =
        static_cast<double>(date.time_since_epoch().count()) * 86400.0 + hh * hour + mm * 60 + ss;
    return Instant::fromUnix(unix);
}

Settings settings(std::string zone, std::int64_t closingHour, std::int64_t closingMinute) {
    Settings result;
    result.timeZone = std::move(zone);
    result.closingHour = closingHour;
    result.closingMinute = closingMinute;
    return result;
}

TEST(BusinessClock, KnowsZoneIdentifiers) {
    EXPECT_TRUE(BusinessClock::isKnownTimeZone("Europe/Madrid"));
    EXPECT_TRUE(BusinessClock::isKnownTimeZone("Atlantic/Canary"));
    EXPECT_TRUE(BusinessClock::isKnownTimeZone("UTC"));
    for (std::string_view name :
         {"", "Europe/Madri", "europe/madrid", "Etc/Unknown", "GMT+01:00", "Marte/Olympus"})
        EXPECT_FALSE(BusinessClock::isKnownTimeZone(name)) << name;
    EXPECT_FALSE(BusinessClock::isKnownTimeZone(std::string_view("Europe/Madrid\0x", 15)));
    EXPECT_FALSE(BusinessClock::isKnownTimeZone("Europe/\xff\xfe"));
}

// Madrid in March 2026 before the clock change is UTC+1.
TEST(BusinessClock, WorkedValuesWithClosingAtFour) {
    const Settings madrid = settings("Europe/Madrid", 4, 0);
    struct Case {
        Instant instant;
        const char* day;
        Instant next;
    };
    const Case cases[] = {
        {utc(2026, 3, 9, 11, 0), "2026-03-09", utc(2026, 3, 10, 3, 0)},  // 12:00 local
        {utc(2026, 3, 10, 0, 30), "2026-03-09", utc(2026, 3, 10, 3, 0)}, // 01:30
        {utc(2026, 3, 10, 3, 0), "2026-03-10", utc(2026, 3, 11, 3, 0)},  // 04:00 exactly
        {utc(2026, 3, 10, 2, 59), "2026-03-09", utc(2026, 3, 10, 3, 0)}, // 03:59
        {utc(2026, 3, 10, 2, 59, 59.999), "2026-03-09", utc(2026, 3, 10, 3, 0)},
        {utc(2026, 3, 9, 23, 0), "2026-03-09", utc(2026, 3, 10, 3, 0)},   // midnight is still the 9th
        {utc(2026, 12, 31, 23, 30), "2026-12-31", utc(2027, 1, 1, 3, 0)}, // new year's night
        {utc(2028, 2, 29, 12, 0), "2028-02-29", utc(2028, 3, 1, 3, 0)},   // leap day
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.instant.unixSeconds());
        EXPECT_EQ(BusinessClock::day(c.instant, madrid), c.day);
        EXPECT_EQ(BusinessClock::next(c.instant, madrid), c.next);
    }
    EXPECT_EQ(BusinessClock::boundary(utc(2026, 3, 10, 0, 30), madrid), utc(2026, 3, 10, 3, 0));
    EXPECT_EQ(BusinessClock::boundary(utc(2026, 3, 9, 22, 59, 59), madrid), utc(2026, 3, 9, 3, 0));
}

TEST(BusinessClock, ClosingAtMidnightFollowsTheLocalDate) {
    const Settings madrid = settings("Europe/Madrid", 0, 0);
    EXPECT_EQ(BusinessClock::day(utc(2026, 3, 9, 23, 0), madrid), "2026-03-10");
    EXPECT_EQ(BusinessClock::day(utc(2026, 3, 9, 22, 59, 59), madrid), "2026-03-09");
    EXPECT_EQ(BusinessClock::boundary(utc(2026, 3, 10, 12, 0), madrid), utc(2026, 3, 9, 23, 0));
    EXPECT_EQ(BusinessClock::next(utc(2026, 3, 9, 23, 0), madrid), utc(2026, 3, 10, 23, 0));
    EXPECT_EQ(BusinessClock::next(utc(2026, 3, 9, 22, 0), madrid), utc(2026, 3, 9, 23, 0));
}

// The nights of the clock changes of 2026 (29 March and 25 October, both at 01:00 UTC). Madrid
// goes from 02:00 to 03:00 and from 03:00 back to 02:00; the Canary Islands go from 01:00 to
// 02:00 and from 02:00 back to 01:00. Closing times inside the changed hour, at its edges and
// outside it.
struct NightCase {
    const char* zone;
    int hh;
    int mm;
    const char* date; // the local date of the change
    const char* previous;
    Instant boundary;  // the closing instant on that date
    Instant following; // the closing instant on the next date
};

void PrintTo(const NightCase& c, std::ostream* out) {
    *out << c.zone << " closing " << c.hh << ":" << c.mm << " on " << c.date;
}

class ClockChangeNight : public ::testing::TestWithParam<NightCase> {};

TEST_P(ClockChangeNight, BoundaryNextAndDayAroundTheClosingTime) {
    const NightCase& c = GetParam();
    const Settings s = settings(c.zone, c.hh, c.mm);
    const bool march = std::string(c.date).substr(5, 2) == "03";
    const Instant midday = march ? utc(2026, 3, 29, 12) : utc(2026, 10, 25, 12);
    const Instant b = c.boundary;

    EXPECT_EQ(BusinessClock::boundary(midday, s), b);
    EXPECT_EQ(BusinessClock::boundary(b, s), b);
    EXPECT_EQ(BusinessClock::day(Instant{b.seconds - 1}, s), c.previous);
    EXPECT_EQ(BusinessClock::day(b, s), c.date);
    EXPECT_EQ(BusinessClock::day(Instant{b.seconds + hour}, s), c.date);
    EXPECT_EQ(BusinessClock::next(Instant{b.seconds - 1}, s), b);
    EXPECT_EQ(BusinessClock::next(b, s), c.following);
    EXPECT_EQ(BusinessClock::next(Instant{b.seconds + hour}, s), c.following);
}

INSTANTIATE_TEST_SUITE_P(
    BusinessClock, ClockChangeNight,
    ::testing::Values(
        // Madrid, summer time: 02:00–02:59 does not exist; 03:00 CEST is 01:00 UTC.
        NightCase{"Europe/Madrid", 2, 30, "2026-03-29", "2026-03-28", utc(2026, 3, 29, 1, 0),
                  utc(2026, 3, 30, 0, 30)},
        NightCase{"Europe/Madrid", 2, 0, "2026-03-29", "2026-03-28", utc(2026, 3, 29, 1, 0),
                  utc(2026, 3, 30, 0, 0)},
        NightCase{"Europe/Madrid", 3, 0, "2026-03-29", "2026-03-28", utc(2026, 3, 29, 1, 0),
                  utc(2026, 3, 30, 1, 0)},
        NightCase{"Europe/Madrid", 1, 59, "2026-03-29", "2026-03-28", utc(2026, 3, 29, 0, 59),
                  utc(2026, 3, 29, 23, 59)},
        NightCase{"Europe/Madrid", 4, 0, "2026-03-29", "2026-03-28", utc(2026, 3, 29, 2, 0),
                  utc(2026, 3, 30, 2, 0)},
        // Madrid, winter time: 02:00–02:59 happens twice, first in CEST (UTC+2), then in CET.
        NightCase{"Europe/Madrid", 2, 30, "2026-10-25", "2026-10-24", utc(2026, 10, 25, 0, 30),
                  utc(2026, 10, 26, 1, 30)},
        NightCase{"Europe/Madrid", 2, 0, "2026-10-25", "2026-10-24", utc(2026, 10, 25, 0, 0),
                  utc(2026, 10, 26, 1, 0)},
        NightCase{"Europe/Madrid", 3, 0, "2026-10-25", "2026-10-24", utc(2026, 10, 25, 2, 0),
                  utc(2026, 10, 26, 2, 0)},
        NightCase{"Europe/Madrid", 1, 59, "2026-10-25", "2026-10-24", utc(2026, 10, 24, 23, 59),
                  utc(2026, 10, 26, 0, 59)},
        NightCase{"Europe/Madrid", 4, 0, "2026-10-25", "2026-10-24", utc(2026, 10, 25, 3, 0),
                  utc(2026, 10, 26, 3, 0)},
        // Canary Islands, summer time: 01:00–01:59 does not exist; 02:00 WEST is 01:00 UTC.
        NightCase{"Atlantic/Canary", 1, 30, "2026-03-29", "2026-03-28", utc(2026, 3, 29, 1, 0),
                  utc(2026, 3, 30, 0, 30)},
        NightCase{"Atlantic/Canary", 1, 0, "2026-03-29", "2026-03-28", utc(2026, 3, 29, 1, 0),
                  utc(2026, 3, 30, 0, 0)},
        NightCase{"Atlantic/Canary", 2, 0, "2026-03-29", "2026-03-28", utc(2026, 3, 29, 1, 0),
                  utc(2026, 3, 30, 1, 0)},
        NightCase{"Atlantic/Canary", 0, 59, "2026-03-29", "2026-03-28", utc(2026, 3, 29, 0, 59),
                  utc(2026, 3, 29, 23, 59)},
        NightCase{"Atlantic/Canary", 4, 0, "2026-03-29", "2026-03-28", utc(2026, 3, 29, 3, 0),
                  utc(2026, 3, 30, 3, 0)},
        // Canary Islands, winter time: 01:00–01:59 happens twice, first in WEST (UTC+1), then in WET.
        NightCase{"Atlantic/Canary", 1, 30, "2026-10-25", "2026-10-24", utc(2026, 10, 25, 0, 30),
                  utc(2026, 10, 26, 1, 30)},
        NightCase{"Atlantic/Canary", 1, 0, "2026-10-25", "2026-10-24", utc(2026, 10, 25, 0, 0),
                  utc(2026, 10, 26, 1, 0)},
        NightCase{"Atlantic/Canary", 2, 0, "2026-10-25", "2026-10-24", utc(2026, 10, 25, 2, 0),
                  utc(2026, 10, 26, 2, 0)},
        NightCase{"Atlantic/Canary", 0, 59, "2026-10-25", "2026-10-24", utc(2026, 10, 24, 23, 59),
                  utc(2026, 10, 26, 0, 59)},
        NightCase{"Atlantic/Canary", 4, 0, "2026-10-25", "2026-10-24", utc(2026, 10, 25, 4, 0),
                  utc(2026, 10, 26, 4, 0)}));

TEST(BusinessClock, BusinessDaysAcrossTheClockChangesLast23And25Hours) {
    const Settings madrid = settings("Europe/Madrid", 4, 0);
    const Instant beforeSpring = BusinessClock::boundary(utc(2026, 3, 28, 12), madrid);
    EXPECT_EQ(BusinessClock::next(beforeSpring, madrid).seconds - beforeSpring.seconds, 23 * hour);
    const Instant beforeAutumn = BusinessClock::boundary(utc(2026, 10, 24, 12), madrid);
    EXPECT_EQ(BusinessClock::next(beforeAutumn, madrid).seconds - beforeAutumn.seconds, 25 * hour);
}

TEST(BusinessClock, CanaryBoundariesAreOneHourAfterMadridAllYear) {
    const Settings madrid = settings("Europe/Madrid", 4, 0);
    const Settings canary = settings("Atlantic/Canary", 4, 0);
    for (int day = 0; day < 366; ++day) {
        const Instant instant{utc(2026, 1, 1, 12).seconds + day * 24 * hour};
        const Instant inMadrid = BusinessClock::boundary(instant, madrid);
        const Instant inCanary = BusinessClock::boundary(instant, canary);
        ASSERT_EQ(inCanary.seconds - inMadrid.seconds, hour) << "day " << day;
    }
}

// Over many random instants and closing times in both zones, with half of the instants near the
// clock changes: a session opened at any instant keeps the business day of its opening up to its
// scheduled end, which is strictly later and at most 25 hours away.
TEST(BusinessClock, EveryInstantUpToTheNextClosingKeepsTheOpeningDay) {
    std::mt19937_64 random(20260329);
    const char* zones[] = {"Europe/Madrid", "Atlantic/Canary"};
    const Instant changes[] = {utc(2025, 3, 30, 1),  utc(2025, 10, 26, 1), utc(2026, 3, 29, 1),
                               utc(2026, 10, 25, 1), utc(2027, 3, 28, 1),  utc(2027, 10, 31, 1)};
    const Instant from = utc(2024, 1, 1), to = utc(2030, 1, 1);
    std::uniform_real_distribution<double> anywhere(from.seconds, to.seconds);
    std::uniform_real_distribution<double> nearChange(-30 * hour, 30 * hour);
    std::uniform_int_distribution<int> pick(0, 5), hours(0, 23), minutes(0, 59);
    std::uniform_real_distribution<double> share(0, 1);

    for (int i = 0; i < 3000; ++i) {
        const Settings s = settings(zones[i % 2], hours(random), i % 3 == 0 ? 0 : minutes(random));
        double seconds = i % 2 == 0 ? anywhere(random) : changes[pick(random)].seconds + nearChange(random);
        if (i % 5 == 0) seconds = std::floor(seconds); // whole seconds, which can fall on a closing
        const Instant opening{seconds};
        const Instant end = BusinessClock::next(opening, s);
        const std::string day = BusinessClock::day(opening, s);
        SCOPED_TRACE(std::string(s.timeZone) + " " + std::to_string(s.closingHour) + ":" +
                     std::to_string(s.closingMinute) + " at " + std::to_string(opening.unixSeconds()));

        ASSERT_GT(end, opening);
        ASSERT_LE(end.seconds - opening.seconds, 25 * hour);
        ASSERT_EQ(BusinessClock::day(Instant{end.seconds - 0.001}, s), day);
        if (end.seconds - 1 >= opening.seconds) {
            ASSERT_EQ(BusinessClock::day(Instant{end.seconds - 1}, s), day);
        }
        for (int k = 0; k < 4; ++k) {
            const Instant inside{opening.seconds + share(random) * (end.seconds - opening.seconds)};
            if (inside < end) {
                ASSERT_EQ(BusinessClock::day(inside, s), day);
            }
        }
        // The closing starts the following business day.
        ASSERT_GT(BusinessClock::day(end, s), day);
        ASSERT_EQ(BusinessClock::next(Instant{end.seconds - 0.001}, s), end);
    }
}

TEST(BusinessClock, OutOfRangeInputNeverCrashes) {
    const Settings madrid;
    for (double seconds : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                           -1e300, 1e300, utc(10000, 1, 1).seconds}) {
        EXPECT_THROW(BusinessClock::day(Instant{seconds}, madrid), PCError);
        EXPECT_THROW(BusinessClock::next(Instant{seconds}, madrid), PCError);
        EXPECT_THROW(BusinessClock::boundary(Instant{seconds}, madrid), PCError);
    }
    EXPECT_EQ(BusinessClock::day(utc(9999, 6, 1, 12), madrid), "9999-06-01");
    EXPECT_NO_THROW(BusinessClock::day(utc(1, 1, 10), madrid));
    // Closing times outside the day are held at its limits.
    const Settings extreme = settings("Europe/Madrid", 99, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(BusinessClock::boundary(utc(2026, 3, 9, 12), extreme), utc(2026, 3, 9, 22, 0));
}

} // namespace
} // namespace pizzacore
