#pragma once

// The JSON form of every record: compact, keys in byte order, absent optionals omitted, "/"
// escaped, identifiers in upper case, instants as the shortest text that reads back exactly and
// bytes as padded Base64. Reading ignores unknown keys, takes null as absent and refuses a
// missing required key, a value of the wrong type and an unknown enumeration text.

#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace pizzacore {

// A document or record that cannot be read (or, for a non-finite instant, written). `what()`
// says in Spanish what was wrong and where, as a key path such as "orders[3].draft.mode".
class JSONError : public std::exception {
public:
    explicit JSONError(std::string reason, std::string path = {});

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& reason() const noexcept { return reason_; }
    const std::string& path() const noexcept { return path_; }

    // Used while the error travels out of nested objects and lists.
    void prependKey(std::string_view key);
    void prependIndex(std::size_t index);

private:
    void compose();
    std::string reason_;
    std::string path_;
    std::string message_;
};

// Writes any record of the document (and the document itself).
template <class T>
std::string toJSON(const T& value);
// The same only when the text reads back as exactly this value: nothing when some text was not
// valid UTF-8 and would have been written repaired.
template <class T>
std::optional<std::string> toExactJSON(const T& value);

// Reads any record of the document (and the document itself); throws JSONError.
template <class T>
T fromJSON(std::string_view json);
// The same without copying the text first when the string has room for the parser's padding
// after its end (at least 64 bytes of spare capacity), as every string from toJSON has.
template <class T>
T fromJSON(const std::string& json);
// The same, releasing the text as soon as it is parsed, before the values are built: the parsed
// form holds copies of everything, so the text and the finished value are never in memory at once.
template <class T>
T fromJSON(std::string&& json);
template <class T>
T fromJSON(const char* json) {
    return fromJSON<T>(std::string_view(json));
}

} // namespace pizzacore
