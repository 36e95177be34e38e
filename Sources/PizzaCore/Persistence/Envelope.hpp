#pragma once

// The envelope that wraps the document on disk and in backups: a compact JSON object
// {"format":"Velmora","payload":<Base64 of the document bytes>,"sha256":<lower-case hex digest of
// those bytes>,"version":1}, written with the document's conventions (keys in byte order, "/"
// escaped, no whitespace). The data file also names the last entry of the journal of changes that
// its document holds, as "journal":<sequence> between "format" and "payload"; the key is absent
// (and the file exactly as before the journal existed) when that is none, and in every backup.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pizzacore::Envelope {

using Digest = std::array<std::uint8_t, 32>;

inline constexpr std::string_view formatName = "Velmora";
inline constexpr std::int64_t currentVersion = 1;

Digest sha256(std::string_view bytes);
// The digest of a file's content, read in pieces; nothing when the file does not exist. Read
// failures throw std::filesystem::filesystem_error; what is not a regular file is refused with
// PCError before anything is read.
std::optional<Digest> fileSha256(const std::filesystem::path& path);
// 64 lower-case hexadecimal digits.
std::string hex(const Digest& digest);

// The envelope bytes holding `document`; with a `journal` above 0, naming that journal entry.
std::string wrap(std::string_view document, std::int64_t journal = 0);
// The same bytes handed to `emit` in pieces of a few megabytes, so that the whole envelope text
// is never held in memory.
void wrapTo(std::string_view document, const std::function<void(std::string_view)>& emit,
            std::int64_t journal = 0);

// The document bytes held by an envelope, once its format, version and digest are right. The
// envelope may take any form JSON allows (white space, escapes, other keys; the last of repeated
// keys counts). JSON failures (including a payload that is not Base64) throw JSONError; a foreign
// format, version 0 or below, or a digest that does not match throw PCError with the integrity
// message; a later version of this format throws PCError saying that the program needs updating.
// The result has spare capacity after its end for the JSON reader's padding, so it is parsed in
// place. An envelope exactly as wrap writes it is read without following it as JSON.
std::string unwrap(std::string_view envelope);
// The same, also giving the envelope's "journal" value (0 when absent; a negative one or one that
// is not an integer is refused like a damaged envelope).
std::string unwrapWithJournal(std::string_view envelope, std::int64_t& journal);
// The same through a JSON parser that builds the whole tree: the reference the streamed reading
// is compared with.
std::string unwrapJSON(std::string_view envelope);

// The same as unwrap for the whole regular file open as `fd`, which is read in pieces and never
// held whole: a first pass follows it as JSON, keeping a few bytes of it, and only when it is a
// sound envelope does a second pass decode its payload into memory. So a file that is no
// envelope costs about a megabyte however large it is, and a genuine one about its document's
// size. Read failures throw std::filesystem::filesystem_error; a file changed between the passes
// is refused with the integrity message.
std::string read(int fd, const std::filesystem::path& path);
// The same, also giving the envelope's "journal" value (see unwrapWithJournal).
std::string readWithJournal(int fd, const std::filesystem::path& path, std::int64_t* journal);

// Reads the open file of `size` bytes from its current position when it holds the form wrap
// writes, decoding the payload piece by piece as it is read, so the file is never held whole:
// gives the document bytes (with the JSON reader's padding after them), or fails with the
// integrity message when the digest does not match. Gives nothing when the file is in any other
// form; the caller then reads it with read. Memory grows only with what was decoded.
std::optional<std::string> readWrittenForm(int fd, const std::filesystem::path& path, std::size_t size,
                                           std::int64_t* journal = nullptr);

} // namespace pizzacore::Envelope
