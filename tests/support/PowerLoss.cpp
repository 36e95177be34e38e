#include "PowerLoss.hpp"

#include "ChildProcess.hpp"
#include "TestFiles.hpp"

#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include <sys/stat.h>

namespace pizzacore::testing::powerloss {

namespace fs = std::filesystem;

namespace {

// What a file or folder is called in the shadow's records when it was there from the start.
std::string initialRecord(const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        throw std::system_error(errno, std::generic_category(), "lstat " + path.string());
    return std::to_string(status.st_ino) + "-0";
}

void recordFolder(const fs::path& folder, const fs::path& shadow) {
    std::string lines;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_symlink()) continue;
        const std::string record = initialRecord(entry.path());
        if (entry.is_directory()) {
            lines += "d " + record + " " + name + "\n";
            recordFolder(entry.path(), shadow);
        } else if (entry.is_regular_file()) {
            lines += "f " + record + " " + name + "\n";
            fs::copy_file(entry.path(), shadow / "files" / record, fs::copy_options::overwrite_existing);
        }
    }
    writeFile(shadow / "folders" / initialRecord(folder), lines);
}

// Builds `folder` from the record of a folder; `made` remembers where each file was put, for
// hard links.
void rebuild(const fs::path& shadow, const std::string& record, const fs::path& folder,
             std::map<std::string, fs::path>& made) {
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_all);
    const fs::path listing = shadow / "folders" / record;
    // A folder made after the start and never flushed is empty.
    if (!fs::exists(listing)) return;
    std::istringstream lines(readFile(listing));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t recordEnd = line.find(' ', 2);
        if (line.size() < 4 || line[1] != ' ' || recordEnd == std::string::npos)
            throw std::runtime_error("not a folder record line: " + line);
        const std::string entryRecord = line.substr(2, recordEnd - 2);
        const fs::path path = folder / line.substr(recordEnd + 1);
        if (line[0] == 'd') {
            rebuild(shadow, entryRecord, path, made);
        } else if (const auto first = made.find(entryRecord); first != made.end()) {
            fs::create_hard_link(first->second, path);
        } else {
            const fs::path contents = shadow / "files" / entryRecord;
            // A file created after the start and never flushed holds nothing.
            writeFile(path, fs::exists(contents) ? readFile(contents) : std::string());
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
            made.emplace(entryRecord, path);
        }
    }
}

} // namespace

void recordDurable(const fs::path& folder, const fs::path& shadow) {
    fs::remove_all(shadow);
    fs::create_directories(shadow / "files");
    fs::create_directories(shadow / "folders");
    recordFolder(folder, shadow);
    writeFile(shadow / "root", initialRecord(folder));
}

void cutPower(const fs::path& shadow, const fs::path& folder) {
    const std::string root = readFile(shadow / "root");
    if (root.empty()) throw std::runtime_error("no power-loss records in " + shadow.string());
    fs::remove_all(folder);
    std::map<std::string, fs::path> made;
    rebuild(shadow, root, folder, made);
}

std::vector<std::string> environment(const fs::path& shim, const fs::path& folder, const fs::path& shadow) {
    // A program built with AddressSanitizer insists on coming first among the libraries loaded; a
    // preloaded one comes before it, which changes nothing the sanitizer relies on here.
    std::string sanitizerOptions = "verify_asan_link_order=0";
    if (const char* options = std::getenv("ASAN_OPTIONS"); options && *options)
        sanitizerOptions = std::string(options) + ":" + sanitizerOptions;
    return {environmentEntry("LD_PRELOAD", shim.string()),
            environmentEntry("VELMORA_POWERLOSS_DIR", folder.string()),
            environmentEntry("VELMORA_POWERLOSS_SHADOW", shadow.string()),
            environmentEntry("ASAN_OPTIONS", sanitizerOptions)};
}

} // namespace pizzacore::testing::powerloss
