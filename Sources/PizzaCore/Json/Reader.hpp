#pragma once

// Reading the leaves of a parsed document. Each function refuses a value of the wrong type with
// a JSONError whose path the callers complete on the way out.

#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Json/Json.hpp>

#include <simdjson.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace pizzacore::json {

using Element = simdjson::dom::element;

[[noreturn]] void failType(std::string_view expected);
[[noreturn]] void failUnknownText(std::string_view text);
// A parse failure of the whole text.
[[noreturn]] void failParse(simdjson::error_code code);

std::string_view readStringView(Element e);
std::string readString(Element e);
bool readBool(Element e);
std::int64_t readInteger(Element e);
Instant readInstant(Element e);
Uuid readUuid(Element e);
Bytes readBytes(Element e);
simdjson::dom::object readObject(Element e);
simdjson::dom::array readArray(Element e);

} // namespace pizzacore::json
