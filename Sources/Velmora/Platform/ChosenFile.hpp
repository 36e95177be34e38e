#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace velmora {

// A file the user picked in an open panel, opened for reading without ever waiting: a FIFO or a
// device opens at once and is recognised as not being a regular file, so a flow can refuse it
// instead of hanging on it. The content is read in steps, so that a flow can look at the
// beginning of a huge file and refuse it without holding all of it in memory.
class ChosenFile {
public:
    // Opens `path`; throws std::filesystem::filesystem_error when it cannot be opened.
    explicit ChosenFile(const std::filesystem::path& path);
    ~ChosenFile();
    ChosenFile(const ChosenFile&) = delete;
    ChosenFile& operator=(const ChosenFile&) = delete;

    bool isFolder() const { return folder_; }
    bool isRegular() const { return regular_; }
    // The size the file system reports; the content read may differ when the file is changing.
    std::uintmax_t size() const { return size_; }

    // Reads on until bytes() holds `limit` bytes or the file ends; true when the end was reached.
    // Only for a regular file. Throws std::filesystem::filesystem_error.
    bool readUpTo(std::size_t limit);
    // Reads on to the end of the file.
    void readAll();

    std::string& bytes() { return bytes_; }
    // The open file, for a reader of its own; it stays open as long as this value.
    int descriptor() const { return fd_; }

private:
    std::filesystem::path path_;
    int fd_ = -1;
    bool folder_ = false;
    bool regular_ = false;
    bool ended_ = false;
    std::uintmax_t size_ = 0;
    std::string bytes_;
};

} // namespace velmora
