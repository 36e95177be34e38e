#include "CallerNumber.hpp"

#include <PizzaCore/Models/PhoneKey.hpp>

#include <algorithm>

namespace pizzacore {

namespace {

bool isNumberCharacter(char c) {
    return (c >= '0' && c <= '9') || c == ' ' || c == '+' || c == '-' || c == '.' || c == '(' || c == ')' ||
           c == '/';
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<std::string> callerNumberKey(std::string_view text) {
    text = trimmed(text);
    if (text.empty() || text.size() > callerNumberMaxLength ||
        !std::all_of(text.begin(), text.end(), isNumberCharacter) || !isValidPhone(text))
        return std::nullopt;
    return phoneKey(text);
}

std::string groupedPhone(std::string_view key) {
    std::string grouped;
    grouped.reserve(key.size() + key.size() / 3);
    for (std::size_t index = 0; index < key.size(); ++index) {
        if (index > 0 && index % 3 == 0) grouped.push_back(' ');
        grouped.push_back(key[index]);
    }
    return grouped;
}

ModemLine readModemLine(std::string_view line) {
    line = trimmed(line);
    constexpr std::string_view tag = "NMBR";
    if (!line.starts_with(tag)) return {};
    std::string_view rest = trimmed(line.substr(tag.size()));
    if (!rest.starts_with('=')) return {};
    const std::string_view value = trimmed(rest.substr(1));
    if (value == "P" || value == "O" || value == "p" || value == "o") return {ModemLine::Kind::withheld, {}};
    if (std::optional<std::string> key = callerNumberKey(value))
        return {ModemLine::Kind::number, std::move(*key)};
    return {ModemLine::Kind::malformed, {}};
}

} // namespace pizzacore
