#include "Instant.hpp"

#include <chrono>

namespace pizzacore {

Instant Instant::now() {
    using namespace std::chrono;
    auto sinceEpoch = duration_cast<duration<double>>(system_clock::now().time_since_epoch());
    return fromUnix(sinceEpoch.count());
}

} // namespace pizzacore
