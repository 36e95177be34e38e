#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pizzacore {

// The longest text taken as a caller's number: room for any way of writing a 15-digit number with
// its prefix and spaces; anything longer is not a number but garbage from the line.
inline constexpr std::size_t callerNumberMaxLength = 40;

// The telephone key (phoneKey) of a caller's number as a telephone system, a softphone or a modem
// reports it, or nothing when the text is not a telephone number: empty, longer than
// callerNumberMaxLength, holding anything but digits, spaces and the signs numbers are written with
// (+ - . ( ) /), or with a key that is not a valid telephone (7 to 15 digits).
std::optional<std::string> callerNumberKey(std::string_view text);

// The digits of a telephone key in groups of three from the left, as the operator reads a number
// aloud: "612345678" gives "612 345 678".
std::string groupedPhone(std::string_view key);

// One line a caller-ID modem writes between the rings of a call.
struct ModemLine {
    enum class Kind {
        // Anything else: RING, DATE, TIME, NAME, the modem's own replies, noise.
        other,
        // The caller's number; `key` holds its telephone key.
        number,
        // The caller withheld the number ("P", private) or it is not available ("O").
        withheld,
        // A number line whose value is not a telephone number.
        malformed,
    };
    Kind kind = Kind::other;
    std::string key;
};

// Reads one line of a caller-ID modem, "NMBR = 612345678" or "NMBR=612345678" with or without the
// line's end.
ModemLine readModemLine(std::string_view line);

} // namespace pizzacore
