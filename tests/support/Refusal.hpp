#pragma once

#include <PizzaCore/Foundation/PCError.hpp>

#include <functional>
#include <optional>
#include <string>

namespace pizzacore::testing {

// The message of the PCError the call throws, or nothing when it returns.
inline std::optional<std::string> failure(const std::function<void()>& call) {
    try {
        call();
    } catch (const PCError& error) {
        return error.message();
    }
    return std::nullopt;
}

} // namespace pizzacore::testing
