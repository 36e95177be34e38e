#include "Reader.hpp"

namespace pizzacore::json {

namespace {
// Shows a refused text inside a message, cut short so that a long value stays readable.
std::string quoted(std::string_view text) {
    constexpr std::size_t limit = 40;
    std::string shown(text.substr(0, limit));
    if (text.size() > limit) {
        // Never cut a UTF-8 sequence in half.
        while (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0xC0) == 0x80)
            shown.pop_back();
        if (!shown.empty() && static_cast<unsigned char>(shown.back()) >= 0xC0) shown.pop_back();
        shown += "…";
    }
    return "«" + shown + "»";
}
} // namespace

void failType(std::string_view expected) {
    throw JSONError("se esperaba " + std::string(expected));
}

void failUnknownText(std::string_view text) {
    throw JSONError(quoted(text) + " no es un valor admitido");
}

void failParse(simdjson::error_code code) {
    std::string reason;
    switch (code) {
    case simdjson::EMPTY:
        reason = "el texto está vacío";
        break;
    case simdjson::UTF8_ERROR:
        reason = "contiene texto UTF-8 no válido";
        break;
    case simdjson::DEPTH_ERROR:
        reason = "tiene demasiados niveles anidados";
        break;
    case simdjson::MEMALLOC:
        reason = "no hay memoria suficiente para leerlo";
        break;
    case simdjson::CAPACITY:
        reason = "es demasiado grande";
        break;
    case simdjson::NUMBER_ERROR:
    case simdjson::NUMBER_OUT_OF_RANGE:
        reason = "contiene un número que no se puede leer";
        break;
    default:
        reason = "no es JSON válido; está dañado o incompleto";
        break;
    }
    throw JSONError(reason);
}

std::string_view readStringView(Element e) {
    std::string_view text;
    if (e.get_string().get(text)) failType("un texto");
    return text;
}

std::string readString(Element e) {
    return std::string(readStringView(e));
}

bool readBool(Element e) {
    bool value = false;
    if (e.get_bool().get(value)) failType("true o false");
    return value;
}

std::int64_t readInteger(Element e) {
    std::int64_t value = 0;
    // A fraction, an exponent form or an integer beyond 64 bits is not an integer here.
    if (!e.is_int64() || e.get_int64().get(value)) failType("un número entero");
    return value;
}

Instant readInstant(Element e) {
    double value = 0;
    if (!e.is_number() || e.get_double().get(value)) failType("un número (instante)");
    return Instant{value};
}

Uuid readUuid(Element e) {
    std::string_view text = readStringView(e);
    auto uuid = Uuid::parse(text);
    if (!uuid) throw JSONError(quoted(text) + " no es un identificador válido");
    return *uuid;
}

Bytes readBytes(Element e) {
    std::string_view text = readStringView(e);
    auto bytes = Base64::decode(text);
    if (!bytes) throw JSONError("el contenido binario no es Base64 válido");
    return std::move(*bytes);
}

simdjson::dom::object readObject(Element e) {
    simdjson::dom::object object;
    if (e.get_object().get(object)) failType("un objeto");
    return object;
}

simdjson::dom::array readArray(Element e) {
    simdjson::dom::array array;
    if (e.get_array().get(array)) failType("una lista");
    return array;
}

} // namespace pizzacore::json
