#pragma once

#include <stdexcept>
#include <string>

#include <sys/types.h>

namespace velmora::admin {

// The three ways the tool ends, as the exit status scripts test.
enum ExitCode : int {
    success = 0,
    // The data, a file or the request was refused: the message says why.
    refused = 1,
    // The command line itself was wrong: unknown command, missing or malformed argument.
    misuse = 2,
};

// A refusal the tool states in its own words (exit status 1). Refusals of the core (PCError,
// JSONError) travel as they are, so that their exact text reaches the user.
class Refusal : public std::runtime_error {
public:
    explicit Refusal(const std::string& message)
        : std::runtime_error(message) {}
};

// A command line that cannot be run (exit status 2).
class Misuse : public std::runtime_error {
public:
    explicit Misuse(const std::string& message)
        : std::runtime_error(message) {}
};

// A system error number in Spanish words, for messages about files.
std::string systemReason(int code);

// What a file that is not a regular file is, in words: "una carpeta", "una tubería"...
std::string fileKind(mode_t mode);

} // namespace velmora::admin
