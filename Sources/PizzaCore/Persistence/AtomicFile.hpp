#pragma once

// Whole-file replacement that a power cut cannot tear: the content goes to a temporary file in
// the target's directory, is flushed to disk, renamed over the target, and the directory is
// flushed after the rename. A reader sees either the whole old or the whole new file, and a
// failure leaves no temporary file behind. Failures throw std::system_error.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace pizzacore::AtomicFile {

// What tells one state of a file from another without reading it: device, inode, size, and the
// modification and status-change times in nanoseconds. Any write changes the times, and no
// program can set the status-change time back.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedSeconds = 0;
    std::int64_t changedNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of a regular file, following links; nothing for anything else or a missing file.
std::optional<FileIdentity> identity(const std::filesystem::path& path);
std::optional<FileIdentity> identity(int fd);
// The identity of the open file once the system's clock has moved past its times, so that any
// later change is sure to show; nothing when that does not happen within a few milliseconds.
std::optional<FileIdentity> settledIdentity(int fd);

using Emit = std::function<void(std::string_view)>;

// Replaces `path` with `bytes`. With `mode`, the new file gets exactly those permission bits
// before it takes the target's name; without, it keeps the bits the system gives new files.
void write(const std::filesystem::path& path, std::string_view bytes,
           std::optional<mode_t> mode = std::nullopt);
// The same with the content handed piece by piece to the `emit` that `produce` is given, so that
// it need not be held whole. Gives the settled identity of the new file (see settledIdentity), or
// nothing when it cannot be told.
std::optional<FileIdentity> writeWith(const std::filesystem::path& path, std::optional<mode_t> mode,
                                      const std::function<void(const Emit&)>& produce);

// Replaces `target` with a copy of the file at `source`: by a hard link when the file system
// allows one, so the bytes are not written a second time, otherwise by reading the file and
// writing its bytes with `mode`. Nothing happens when `source` does not exist.
void replaceWithCopy(const std::filesystem::path& source, const std::filesystem::path& target, mode_t mode);

// Removes the temporary files that a writer killed before its rename left in `directory`. Only
// for a directory no one else is writing to; failures are ignored.
void removeLeftovers(const std::filesystem::path& directory);

// The whole content of a regular file, with spare capacity after its end for the JSON reader's
// padding. Gives nothing when the file does not exist; anything that is not a regular file (after
// following links) is refused, see openRegular.
std::optional<std::string> read(const std::filesystem::path& path);

// Opens an existing regular file for reading, following links. The open never blocks (a named
// pipe is opened non-blocking) and anything that is not a regular file — a pipe, a device, a
// socket, a folder — is refused at once with PCError "«path» no es un archivo normal…", before a
// byte is read. Gives -1 when the file does not exist; other failures throw filesystem_error.
int openRegular(const std::filesystem::path& path);
// The whole content of the open file from its current position, with the reader's padding.
std::string readAll(int fd, const std::filesystem::path& path);

// Refuses `path` when something other than a regular file or a link has that name: a write there
// would replace a pipe, a device or a folder.
void requireReplaceable(const std::filesystem::path& path);

// The text of the refusal for `path` when it is not a regular file.
std::string notRegularMessage(const std::filesystem::path& path);

} // namespace pizzacore::AtomicFile
