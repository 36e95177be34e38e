#pragma once

#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace pizzacore::json {

// Appends JSON tokens to a string; the structure (objects, keys, commas) is laid by the
// record encoder, which knows every key in advance.
class Writer {
public:
    explicit Writer(std::string& out)
        : out_(out) {}

    void raw(char c) { out_.push_back(c); }
    void raw(std::string_view text) { out_.append(text); }

    // A string, escaping quotes, backslashes, "/" and control characters. Text that is not valid
    // UTF-8 is written with U+FFFD in place of each bad sequence, so the document always reads
    // back, and the writer remembers that what it wrote is not exactly what it was given.
    void string(std::string_view text);
    // Whether some text had to be repaired: the JSON then reads back as a different value.
    bool altered() const { return altered_; }
    void integer(std::int64_t value);
    void boolean(bool value) { raw(value ? std::string_view("true") : std::string_view("false")); }
    // The shortest decimal text that reads back as the same double.
    void number(double value);
    void uuid(const Uuid& value);
    void bytes(const Bytes& value);

private:
    void escaped(std::string_view text);
    std::string& out_;
    bool altered_ = false;
};

} // namespace pizzacore::json
