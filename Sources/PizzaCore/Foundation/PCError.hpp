#pragma once

#include <exception>
#include <string>

namespace pizzacore {

// The one error of the core: a refusal carrying the Spanish message shown to the operator.
class PCError : public std::exception {
public:
    static PCError invalid(std::string message) { return PCError(std::move(message)); }

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    explicit PCError(std::string message)
        : message_(std::move(message)) {}
    std::string message_;
};

} // namespace pizzacore
