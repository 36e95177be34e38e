#include "PhoneKey.hpp"

namespace pizzacore {

std::string phoneKey(std::string_view text) {
    // ASCII bytes never occur inside a multi-byte UTF-8 sequence, so a byte scan drops every
    // non-ASCII character, other scripts' digits included.
    std::string digits;
    digits.reserve(text.size());
    for (char c : text)
        if (c >= '0' && c <= '9') digits.push_back(c);
    if (digits.starts_with("00")) digits.erase(0, 2);
    if (digits.size() == 11 && digits.starts_with("34")) digits.erase(0, 2);
    return digits;
}

bool isValidPhone(std::string_view text) {
    const std::size_t length = phoneKey(text).size();
    return length >= 7 && length <= 15;
}

} // namespace pizzacore
