// Runs one Velmora controller from a separate process, for the single-instance tests.
//
//   AppStoreHolder   opens the data directory of the standard rule ($VELMORA_DATA_DIR) with an
//                    AppStore, writes "ready\n" to standard output and waits to be killed; when the
//                    controller ends up in its fatal state it writes "fatal\n" and exits 3.

#include <Velmora/Stores/AppStore.hpp>

#include "TestPlatformServices.hpp"

#include <cstdio>

#include <unistd.h>

int main() {
    velmora::testing::TestPlatformServices platform;
    velmora::AppStore store(pizzacore::Clock::system(), platform);
    store.start();
    std::fputs(store.fatal() ? "fatal\n" : "ready\n", stdout);
    std::fflush(stdout);
    if (store.fatal()) return 3;
    for (;;)
        ::pause();
}
