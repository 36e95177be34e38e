#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::admin {

// One record of RFC 4180 CSV: fields separated by commas, a field quoted when it holds a comma,
// a quote, a carriage return or a line feed (its quotes doubled), the record ended by CRLF.
// Text is written as stored, in UTF-8, without a byte-order mark.
void writeCsvRecord(std::ostream& out, const std::vector<std::string>& fields);

// A text typed by someone (a customer's name, a cancellation reason) as a CSV field for a
// spreadsheet: a text beginning with "=", "+", "-", "@" or a tab would be taken for a formula,
// so it gets a leading apostrophe, which spreadsheets show as plain text.
std::string spreadsheetText(std::string_view text);

// A text from the document made safe for a terminal: tabs and line breaks become spaces, other
// control characters (C0, DEL, C1), which could drive the terminal, become U+FFFD.
std::string printable(std::string_view text);

} // namespace velmora::admin
