#pragma once

// Real files and directories for tests and benchmarks.

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace pizzacore::testing {

// A fresh directory under the system's temporary folder, removed with everything in it when the
// value goes away.
class TemporaryDirectory {
public:
    explicit TemporaryDirectory(std::string_view prefix = "velmora");
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The whole file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, std::string_view bytes);
// Every entry directly in the directory, by name, with its bytes (empty for a folder): to show that nothing
// on disk changed.
std::map<std::string, std::string> snapshot(const std::filesystem::path& directory);

} // namespace pizzacore::testing
