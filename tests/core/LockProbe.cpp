// Opens a data directory with the lock from a separate process, for the lock tests.
//
//   LockProbe try <directory>   exits 0 when the repository opened, 3 when it was refused with the
//                               instance message, 4 on any other failure.
//   LockProbe hold <directory>  opens it, writes "ready\n" to standard output and waits to be killed;
//                               exits 3 or 4 as above when it cannot open it.

#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Persistence/Repository.hpp>

#include <cstdio>
#include <string_view>

#include <unistd.h>

int main(int argc, char* argv[]) {
    if (argc != 3) return 2;
    const std::string_view mode = argv[1];
    try {
        pizzacore::Repository repository(argv[2], true);
        if (mode == "hold") {
            std::fputs("ready\n", stdout);
            std::fflush(stdout);
            for (;;)
                ::pause();
        }
        return 0;
    } catch (const pizzacore::PCError& error) {
        return error.message() == "Velmora ya está abierto con estos datos. Usa una sola instancia." ? 3 : 4;
    } catch (...) {
        return 4;
    }
}
