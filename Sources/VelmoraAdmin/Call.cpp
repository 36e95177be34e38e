#include "Commands.hpp"
#include "Failure.hpp"

#include <PizzaCore/Calls/CallSocket.hpp>
#include <PizzaCore/Calls/CallerNumber.hpp>

#include <cstdlib>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace velmora::admin {

namespace {

// How long Velmora has to answer: a telephone system waits for the command before it goes on.
constexpr int answerTimeout = 3000;

} // namespace

int announceCall(const CallRequest& request, std::ostream& out) {
    // The parser only lets a telephone number through.
    const std::string shown =
        pizzacore::groupedPhone(pizzacore::callerNumberKey(request.number).value_or(""));
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::filesystem::path folder = pizzacore::callSocketFolder(
        runtime ? std::optional<std::string>(runtime) : std::nullopt, ::geteuid());
    const std::filesystem::path socket = pizzacore::callSocketPath(folder);
    const std::string notOpen = "Velmora no está abierto para este usuario en este ordenador: no se ha "
                                "podido avisar de la llamada de " +
                                shown + ".";
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) throw Refusal(notOpen);
    // A folder another user could have prepared is not trusted with the caller's number.
    pizzacore::checkCallSocketFolder(folder, ::geteuid(), false);
    switch (pizzacore::announceCall(socket, request.number, answerTimeout)) {
    case pizzacore::CallNotice::accepted:
        out << "Llamada de " << shown << " avisada a Velmora.\n";
        return ExitCode::success;
    case pizzacore::CallNotice::ignored:
        throw Refusal("Velmora no ha tomado «" + request.number + "» como número de teléfono.");
    case pizzacore::CallNotice::refused:
        throw Refusal("Velmora ha rechazado el aviso: solo los acepta de su mismo usuario.");
    case pizzacore::CallNotice::notRunning:
        throw Refusal(notOpen);
    case pizzacore::CallNotice::noAnswer:
        throw Refusal("Velmora no ha respondido al aviso de la llamada de " + shown + " a tiempo.");
    }
    return ExitCode::refused;
}

} // namespace velmora::admin
