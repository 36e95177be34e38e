// velmora-admin: the core of Velmora on the command line, for the restaurant's technician and
// bookkeeper. Exit status 0 on success, 1 when something is refused, 2 on misuse.

#include "CommandLine.hpp"
#include "Commands.hpp"
#include "Failure.hpp"
#include "TextOutput.hpp"

#include <PizzaCore/Foundation/Clock.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Json/Json.hpp>

#include <exception>
#include <filesystem>
#include <iostream>
#include <new>
#include <variant>

using namespace velmora::admin;

namespace {

// A refusal: the text on its own line, after whatever the command already wrote. Refusals quote
// file content (a value the core does not accept, a path), so control characters that could drive
// the terminal are neutralised here, in one place, whichever command and error produced them.
int refuse(const std::string& message) {
    std::cout.flush();
    std::cerr << printable(message) << '\n';
    return ExitCode::refused;
}

// The command's own failures turned into the exit status and the message on standard error.
int failed(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Misuse& error) {
        std::cout.flush();
        std::cerr << "velmora-admin: " << printable(error.what())
                  << "\nUsa «velmora-admin --help» para ver cómo se usa.\n";
        return ExitCode::misuse;
    } catch (const Refusal& error) {
        return refuse(error.what());
    } catch (const pizzacore::PCError& error) {
        return refuse(error.message());
    } catch (const pizzacore::JSONError& error) {
        return refuse(error.what());
    } catch (const std::filesystem::filesystem_error& error) {
        return refuse("Error de archivos: " + systemReason(error.code().value()) +
                      (error.path1().empty() ? "" : " (" + error.path1().string() + ")"));
    } catch (const std::bad_alloc&) {
        return refuse("No hay memoria suficiente para leer los datos.");
    } catch (const std::exception& error) {
        return refuse(std::string("Error inesperado: ") + error.what());
    }
}

int run(const Request& request, pizzacore::Instant now) {
    return std::visit(
        [now](const auto& command) -> int {
            using T = std::decay_t<decltype(command)>;
            if constexpr (std::is_same_v<T, VerifyRequest>)
                return verify(command, std::cout);
            else if constexpr (std::is_same_v<T, ReportRequest>)
                return dayReport(command, now, std::cout);
            else if constexpr (std::is_same_v<T, OrdersRequest>)
                return orderList(command, now, std::cout);
            else if constexpr (std::is_same_v<T, TicketRequest>)
                return ticket(command, std::cout);
            else
                return announceCall(command, std::cout);
        },
        request);
}

} // namespace

int main(int argc, char* argv[]) {
    std::ios::sync_with_stdio(false);
    const Parsed parsed = parseCommandLine(argc, argv, std::cout, std::cerr);
    if (const int* status = std::get_if<int>(&parsed)) return *status;

    const Request& request = std::get<Request>(parsed);
    int status = ExitCode::success;
    try {
        status = run(request, pizzacore::Clock::system().now());
    } catch (...) {
        status = failed(std::current_exception());
        // A check ends with its verdict whatever stopped it, so that its output always says
        // whether the data is good, as the last line, where a reader and a script look for it.
        if (status == ExitCode::refused && std::holds_alternative<VerifyRequest>(request)) {
            std::cout << "Resultado: no válido\n";
            std::cout.flush();
        }
        return status;
    }
    // A full disk or a closed pipe must not pass for a finished listing.
    std::cout.flush();
    if (!std::cout) return refuse("No se pudo escribir la salida.");
    return status;
}
