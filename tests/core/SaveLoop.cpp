// A process that saves documents into a data directory until it is killed; the crash tests run it
// and kill it at random moments.
//
//     SaveLoop <directory> <journal> <first seed>
//
// It opens the directory with the lock, writes "ready\n" to its standard output, and then, for the
// seeds first, first + 1, …, appends the seed as a line to the journal and saves the synthetic
// document of that seed (tiny for even seeds, small for odd ones). The journal line is written
// before the save starts, so whoever reads the journal after a kill knows every document that may
// be on disk. Any failure ends the process with status 1 and a message on standard error.

#include <PizzaCore/Persistence/Repository.hpp>
#include <support/SyntheticDocument.hpp>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

using pizzacore::testing::DocumentShape;

// Writes all of `text` with one call where the kernel allows it; a journal line is a few bytes,
// so a kill sees it either whole or not at all.
void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "write");
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

int run(const std::filesystem::path& directory, const std::filesystem::path& journalPath,
        std::uint64_t firstSeed) {
    // The loop has no end of its own: make sure it does not outlive a test that died.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1) return 1;

    const int journal = ::open(journalPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (journal < 0) throw std::system_error(errno, std::generic_category(), "open " + journalPath.string());

    pizzacore::Repository repository(directory, true);
    writeAll(STDOUT_FILENO, "ready\n");

    for (std::uint64_t seed = firstSeed;; ++seed) {
        const auto shape = seed % 2 == 0 ? DocumentShape::tiny() : DocumentShape::small();
        const pizzacore::Database document = pizzacore::testing::makeDocument(shape, seed);
        writeAll(journal, std::to_string(seed) + "\n");
        repository.save(document);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: SaveLoop <directory> <journal> <first seed>\n";
        return 2;
    }
    const std::string_view seedText = argv[3];
    std::uint64_t firstSeed = 0;
    const auto [end, error] = std::from_chars(seedText.data(), seedText.data() + seedText.size(), firstSeed);
    if (error != std::errc() || end != seedText.data() + seedText.size()) {
        std::cerr << "SaveLoop: not a seed: " << seedText << "\n";
        return 2;
    }
    try {
        return run(argv[1], argv[2], firstSeed);
    } catch (const std::exception& failure) {
        std::cerr << "SaveLoop: " << failure.what() << "\n";
        return 1;
    }
}
