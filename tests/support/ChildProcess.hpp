#pragma once

// Programs the tests start, watch and kill: the crash and power-loss tests run helpers this way.

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace pizzacore::testing {

// A running program. Its standard output comes back through a pipe, its standard error goes to a
// file; it gets this process's environment with `environment` ("NAME=value") set on top. The
// program is killed and reaped when the value goes away.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::filesystem::path& errors, const std::vector<std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads the program's output until a whole line has come, and gives it without the line
    // break; empty when the output ended first or nothing came within `timeout`.
    std::string readLine(std::chrono::milliseconds timeout = std::chrono::minutes(2));
    // Kills the program with SIGKILL and reaps it; gives its wait status.
    int killNow();
    // Waits for the program to end on its own; gives its wait status.
    int wait();

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string received_;
};

// "NAME=value" entries for the child's environment.
std::string environmentEntry(std::string_view name, std::string_view value);

} // namespace pizzacore::testing
