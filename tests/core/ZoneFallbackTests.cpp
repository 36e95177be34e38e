// The business clock in a zone it does not know falls back to the computer's zone. The computer's
// zone is fixed for this program: it runs itself again with TZ=Asia/Tokyo (UTC+9 all year, so it
// differs from both business zones and from UTC) unless TZ already says so.

#include <PizzaCore/PizzaCore.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace pizzacore {
namespace {

constexpr const char* hostZone = "Asia/Tokyo";

Settings withZone(std::string zone) {
    Settings settings;
    settings.timeZone = std::move(zone);
    return settings;
}

// 2026-03-09 20:00 UTC: 21:00 in Madrid, 05:00 of the 10th in Tokyo.
const Instant evening = Instant::fromUnix(1773086400);

TEST(ZoneFallback, UnknownZonesUseTheComputersZone) {
    for (const char* name : {"Marte/Olympus", "", "europe/madrid", "Etc/Unknown"}) {
        SCOPED_TRACE(name);
        const Settings settings = withZone(name);
        EXPECT_EQ(BusinessClock::day(evening, settings), "2026-03-10");
        // The previous closing was 04:00 Tokyo time on the 10th (19:00 UTC on the 9th); the next
        // is 04:00 on the 11th.
        EXPECT_EQ(BusinessClock::boundary(evening, settings), Instant::fromUnix(1773082800));
        EXPECT_EQ(BusinessClock::next(evening, settings), Instant::fromUnix(1773082800 + 86400));
    }
}

TEST(ZoneFallback, KnownZonesIgnoreTheComputersZone) {
    const Settings madrid = withZone("Europe/Madrid");
    EXPECT_EQ(BusinessClock::day(evening, madrid), "2026-03-09");
    EXPECT_EQ(BusinessClock::next(evening, madrid), Instant::fromUnix(1773111600)); // 10th 04:00 CET
}

TEST(ZoneFallback, SessionsKeepOpeningInTheComputersZone) {
    Database database;
    database.settings.timeZone = "Zona/Desconocida";
    database.reconcile(evening);
    ASSERT_EQ(database.sessions.size(), 1u);
    EXPECT_EQ(database.sessions[0].businessDay, "2026-03-10");
    EXPECT_EQ(database.sessions[0].scheduledEnd, Instant::fromUnix(1773082800 + 86400));
}

} // namespace
} // namespace pizzacore

int main(int argc, char** argv) {
    const char* zone = std::getenv("TZ");
    if (zone == nullptr || std::strcmp(zone, pizzacore::hostZone) != 0) {
        // Run again with the zone set from the start, as it would be for any program.
        ::setenv("TZ", pizzacore::hostZone, 1);
        ::execv("/proc/self/exe", argv);
        std::perror("execv");
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
