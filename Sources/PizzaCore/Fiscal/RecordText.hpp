#pragma once

// Checks and cuts of the texts that go into fiscal records, so that every record the builders
// return fits the tax agency's schema. The schema counts characters as Unicode code points.

#include <cstddef>
#include <string_view>

namespace pizzacore::RecordText {

// Valid UTF-8 made only of characters XML 1.0 can carry (tab, line feed, carriage return and
// U+0020 onwards, without surrogates, U+FFFE and U+FFFF). Control characters cannot be written
// even as character references.
bool isXMLText(std::string_view text);

// The number of code points of valid UTF-8 text.
std::size_t codePoints(std::string_view text);

// The longest prefix of valid UTF-8 text that holds at most `limit` code points and ends on a
// boundary between user-perceived characters, so that no accent or emoji sequence is split.
std::string_view cut(std::string_view text, std::size_t limit);

// "dd-MM-yyyy" naming a day of the Gregorian calendar, ASCII digits only.
bool isDate(std::string_view text);

// An XML Schema dateTime with its time zone: "yyyy-MM-ddThh:mm:ss", optional decimal fraction of
// a second, then "Z" or "+hh:mm" / "-hh:mm".
bool isTimestamp(std::string_view text);

// 64 upper-case hexadecimal digits, as FiscalRules::hash writes them.
bool isFingerprint(std::string_view text);

} // namespace pizzacore::RecordText
