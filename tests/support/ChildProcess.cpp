#include "ChildProcess.hpp"

#include <cerrno>
#include <csignal>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pizzacore::testing {

namespace {

// This process's environment with the given entries replacing those of the same name.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view text = *entry;
        const std::string_view name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const std::string& override : overrides)
            replaced = replaced || std::string_view(override).substr(0, override.find('=')) == name;
        if (!replaced) merged.emplace_back(text);
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

} // namespace

std::string environmentEntry(std::string_view name, std::string_view value) {
    std::string entry(name);
    entry += '=';
    entry += value;
    return entry;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::filesystem::path& errors, const std::vector<std::string>& environment) {
    int pipeFDs[2];
    if (::pipe2(pipeFDs, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
    output_ = pipeFDs[0];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFDs[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> argumentTexts = {program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argumentPointers;
    for (std::string& text : argumentTexts)
        argumentPointers.push_back(text.data());
    argumentPointers.push_back(nullptr);
    std::vector<std::string> environmentTexts = mergedEnvironment(environment);
    std::vector<char*> environmentPointers;
    for (std::string& text : environmentTexts)
        environmentPointers.push_back(text.data());
    environmentPointers.push_back(nullptr);

    const int spawned = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argumentPointers.data(),
                                      environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFDs[1]);
    if (spawned != 0) {
        pid_ = -1;
        ::close(output_);
        throw std::system_error(spawned, std::generic_category(), "posix_spawn " + program);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) killNow();
    ::close(output_);
}

std::string ChildProcess::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (received_.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return {};
        pollfd waiting{output_, POLLIN, 0};
        const int events = ::poll(&waiting, 1, static_cast<int>(left.count()));
        if (events < 0 && errno == EINTR) continue;
        if (events <= 0) return {};
        char buffer[256];
        const ssize_t count = ::read(output_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return {};
        received_.append(buffer, static_cast<std::size_t>(count));
    }
    const std::size_t end = received_.find('\n');
    std::string line = received_.substr(0, end);
    received_.erase(0, end + 1);
    return line;
}

int ChildProcess::killNow() {
    ::kill(pid_, SIGKILL);
    return wait();
}

int ChildProcess::wait() {
    int status = 0;
    // Reaped already: waiting on -1 would wait for any other child.
    if (pid_ <= 0) return status;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
}

} // namespace pizzacore::testing
