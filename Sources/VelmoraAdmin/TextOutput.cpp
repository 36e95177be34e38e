#include "TextOutput.hpp"

namespace velmora::admin {

void writeCsvRecord(std::ostream& out, const std::vector<std::string>& fields) {
    bool first = true;
    for (const std::string& field : fields) {
        if (!first) out << ',';
        first = false;
        if (field.find_first_of(",\"\r\n") == std::string::npos) {
            out << field;
            continue;
        }
        out << '"';
        for (const char c : field) {
            if (c == '"') out << '"';
            out << c;
        }
        out << '"';
    }
    out << "\r\n";
}

std::string spreadsheetText(std::string_view text) {
    std::string result;
    result.reserve(text.size() + 1);
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        result.push_back('\'');
    result.append(text);
    return result;
}

std::string printable(std::string_view text) {
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\t' || byte == '\n' || byte == '\r')
            result += ' ';
        else if (byte < 0x20 || byte == 0x7F)
            result += replacement;
        else if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                 static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080…U+009F, the C1 controls: two bytes in UTF-8.
            result += replacement;
            ++i;
        } else
            result += static_cast<char>(byte);
    }
    return result;
}

} // namespace velmora::admin
