#include "Json.hpp"

#include <PizzaCore/Fiscal/FiscalModels.hpp>
#include <PizzaCore/Json/Decode.hpp>
#include <PizzaCore/Json/Encode.hpp>
#include <PizzaCore/Models/Database.hpp>

#include <simdjson.h>

namespace pizzacore {

JSONError::JSONError(std::string reason, std::string path)
    : reason_(std::move(reason))
    , path_(std::move(path)) {
    compose();
}

void JSONError::prependKey(std::string_view key) {
    if (path_.empty() || path_.front() == '[')
        path_.insert(0, key);
    else
        path_.insert(0, std::string(key) + ".");
    compose();
}

void JSONError::prependIndex(std::size_t index) {
    // Built by appending: g++ 12 at -O3 misreads `"[" + std::to_string(index)` as an overlapping
    // copy (-Wrestrict).
    std::string segment = "[";
    segment += std::to_string(index);
    segment += ']';
    if (!path_.empty() && path_.front() != '[') segment += ".";
    path_.insert(0, segment);
    compose();
}

void JSONError::compose() {
    message_ = path_.empty() ? "No se pudo leer el documento: " + reason_ + "."
                             : "No se pudo leer el documento en «" + path_ + "»: " + reason_ + ".";
}

namespace {

template <class T>
std::string write(const T& value, bool& altered) {
    std::string out;
    out.reserve(json::sizeHint(value) + simdjson::SIMDJSON_PADDING);
    json::Writer writer(out);
    json::encode(writer, value);
    // Room for the reader's padding, so that fromJSON reads the text where it is.
    if (out.capacity() - out.size() < simdjson::SIMDJSON_PADDING)
        out.reserve(out.size() + simdjson::SIMDJSON_PADDING);
    altered = writer.altered();
    return out;
}

} // namespace

template <class T>
std::string toJSON(const T& value) {
    bool altered = false;
    return write(value, altered);
}

template <class T>
std::optional<std::string> toExactJSON(const T& value) {
    bool altered = false;
    std::string out = write(value, altered);
    if (altered) return std::nullopt;
    return out;
}

template <class T>
T fromJSON(std::string_view text) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (auto error = parser.parse(text.data(), text.size()).get(root)) json::failParse(error);
    return json::decode(root, json::Tag<T>{});
}

template <class T>
T fromJSON(const std::string& text) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    // simdjson copies the text only when the string lacks the spare capacity for its padding.
    if (auto error = parser.parse(text).get(root)) json::failParse(error);
    return json::decode(root, json::Tag<T>{});
}

template <class T>
T fromJSON(std::string&& text) {
    // The parsed form goes into a document of its own, so that the parser's working memory (an
    // index of every token, four bytes each) is released with the parser before the values are
    // built.
    simdjson::dom::document parsed;
    simdjson::dom::element root;
    {
        simdjson::dom::parser parser;
        if (auto error = parser.parse_into_document(parsed, text).get(root)) json::failParse(error);
    }
    std::string().swap(text);
    return json::decode(root, json::Tag<T>{});
}

#define PIZZACORE_JSON_FOR(T)                                                                                \
    template std::string toJSON<T>(const T&);                                                                \
    template std::optional<std::string> toExactJSON<T>(const T&);                                            \
    template T fromJSON<T>(std::string_view);                                                                \
    template T fromJSON<T>(const std::string&);                                                              \
    template T fromJSON<T>(std::string &&);

PIZZACORE_JSON_FOR(Category)
PIZZACORE_JSON_FOR(Product)
PIZZACORE_JSON_FOR(Customer)
PIZZACORE_JSON_FOR(Line)
PIZZACORE_JSON_FOR(Draft)
PIZZACORE_JSON_FOR(Order)
PIZZACORE_JSON_FOR(Payment)
PIZZACORE_JSON_FOR(Session)
PIZZACORE_JSON_FOR(Settings)
PIZZACORE_JSON_FOR(Audit)
PIZZACORE_JSON_FOR(Database)
PIZZACORE_JSON_FOR(FiscalSettings)
PIZZACORE_JSON_FOR(FiscalLine)
PIZZACORE_JSON_FOR(InvoiceProposal)
PIZZACORE_JSON_FOR(FiscalInvoice)
PIZZACORE_JSON_FOR(FiscalEvent)
PIZZACORE_JSON_FOR(FiscalState)

} // namespace pizzacore
