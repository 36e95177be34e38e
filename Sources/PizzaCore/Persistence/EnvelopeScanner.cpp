#include "EnvelopeScanner.hpp"

#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Json/Json.hpp>
#include <PizzaCore/Persistence/Envelope.hpp>

#include <openssl/evp.h>
#include <simdjson.h>

#include <array>
#include <bitset>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace pizzacore::Envelope {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view integrityMessage =
    "La copia no es válida o su integridad no coincide. No se han sustituido los datos.";

// As deep as the JSON reader of the document goes, the root object counting as the first level.
constexpr std::size_t maximumDepth = 1024;
// What is read of a file at a time: the whole memory a file that is not an envelope costs.
constexpr std::size_t pieceSize = std::size_t(1) << 20;

[[noreturn]] void refuse() {
    throw PCError::invalid(std::string(integrityMessage));
}

class Sha256 {
public:
    Sha256()
        : context_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
        restart();
    }
    void restart() {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
            throw std::runtime_error("No se pudo calcular el resumen SHA-256.");
    }
    void update(const char* bytes, std::size_t size) {
        if (size > 0) EVP_DigestUpdate(context_.get(), bytes, size);
    }
    Digest finish() {
        Digest digest{};
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context_.get(), digest.data(), &length) != 1 || length != digest.size())
            throw std::runtime_error("No se pudo calcular el resumen SHA-256.");
        return digest;
    }

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context_;
};

// Receives the characters of a JSON string, its escapes resolved, in runs.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void text(std::string_view run) = 0;
};

class Discard final : public Sink {
public:
    void text(std::string_view) override {}
};

// The beginning of a short text (a key, the format name, the digest): enough to compare it with
// what it should be, and whether there was more.
class Short final : public Sink {
public:
    static constexpr std::size_t limit = 80;

    void text(std::string_view run) override {
        const std::size_t room = limit - value_.size();
        value_.append(run.substr(0, room));
        if (run.size() > room) overflow_ = true;
    }
    void clear() {
        value_.clear();
        overflow_ = false;
    }
    bool operator==(std::string_view other) const { return !overflow_ && value_ == other; }

private:
    std::string value_;
    bool overflow_ = false;
};

// Decodes the payload's Base64 as it arrives, with the strict rules of the document's bytes
// (padding only at the end, unused bits zero), and hashes what it decodes. Without a target the
// decoded bytes are dropped once hashed; with one, they are written into it, and a payload larger
// than the target is invalid.
class Payload final : public Sink {
public:
    Payload() { restart(); }

    void restart(char* target = nullptr, std::size_t room = 0) {
        keep_ = target != nullptr;
        start_ = keep_ ? target : scratch_.data();
        end_ = start_ + (keep_ ? room : scratch_.size());
        out_ = hashed_ = start_;
        count_ = 0;
        waiting_ = ended_ = invalid_ = false;
        size_ = 0;
        sha_.restart();
    }

    void text(std::string_view run) override {
        const auto* p = reinterpret_cast<const unsigned char*>(run.data());
        const auto* const end = p + run.size();
        while (p < end && !invalid_) {
            // Whole groups of four characters, the bulk of a payload, go the short way.
            if (count_ == 0 && !waiting_ && !ended_) {
                for (; end - p >= 4; p += 4) {
                    const unsigned a = Base64::values[p[0]], b = Base64::values[p[1]],
                                   c = Base64::values[p[2]], d = Base64::values[p[3]];
                    if ((a | b | c | d) & 0x80) break;
                    if (!room(3)) return;
                    const unsigned v = a << 18 | b << 12 | c << 6 | d;
                    out_[0] = static_cast<char>(v >> 16);
                    out_[1] = static_cast<char>(v >> 8);
                    out_[2] = static_cast<char>(v);
                    out_ += 3;
                }
                if (p == end) break;
            }
            step(*p++);
        }
    }

    // After the closing quote.
    void end() {
        flush();
        digest_ = sha_.finish();
    }
    bool valid() const { return !invalid_ && count_ == 0 && !waiting_; }
    std::uint64_t size() const { return size_; }
    const Digest& digest() const { return digest_; }

private:
    void step(unsigned char c) {
        if (ended_) {
            invalid_ = true;
            return;
        }
        if (c == '=') {
            // "xxx=" ends the text with two bytes, "xx==" with one.
            if (waiting_)
                finalGroup(1);
            else if (count_ == 3)
                finalGroup(2);
            else if (count_ == 2)
                waiting_ = true;
            else
                invalid_ = true;
            return;
        }
        const unsigned value = Base64::values[c];
        if (waiting_ || (value & 0x80)) {
            invalid_ = true;
            return;
        }
        group_[count_++] = value;
        if (count_ < 4) return;
        if (!room(3)) return;
        const unsigned v = group_[0] << 18 | group_[1] << 12 | group_[2] << 6 | group_[3];
        out_[0] = static_cast<char>(v >> 16);
        out_[1] = static_cast<char>(v >> 8);
        out_[2] = static_cast<char>(v);
        out_ += 3;
        count_ = 0;
    }

    void finalGroup(int bytes) {
        const unsigned v = group_[0] << 18 | group_[1] << 12 | (bytes == 2 ? group_[2] << 6 : 0u);
        // The unused low bits must be zero, so that each text has one meaning.
        if ((bytes == 1 && (v & 0xFFFF)) || (bytes == 2 && (v & 0xFF)) ||
            !room(static_cast<std::size_t>(bytes))) {
            invalid_ = true;
            return;
        }
        *out_++ = static_cast<char>(v >> 16);
        if (bytes == 2) *out_++ = static_cast<char>(v >> 8);
        count_ = 0;
        waiting_ = false;
        ended_ = true;
    }

    bool room(std::size_t needed) {
        if (static_cast<std::size_t>(end_ - out_) >= needed) return true;
        if (keep_) {
            invalid_ = true;
            return false;
        }
        flush();
        return true;
    }

    void flush() {
        sha_.update(hashed_, static_cast<std::size_t>(out_ - hashed_));
        size_ += static_cast<std::uint64_t>(out_ - hashed_);
        hashed_ = out_;
        if (!keep_) out_ = hashed_ = start_;
    }

    Sha256 sha_;
    std::array<char, 1 << 16> scratch_{};
    bool keep_ = false;
    char* start_ = nullptr;
    char* end_ = nullptr;
    char* out_ = nullptr;
    char* hashed_ = nullptr;
    unsigned group_[4] = {};
    std::size_t count_ = 0;
    bool waiting_ = false;
    bool ended_ = false;
    bool invalid_ = false;
    std::uint64_t size_ = 0;
    Digest digest_{};
};

// Bytes that end a run of plain string characters: the closing quote, an escape, and the control
// characters a JSON string must escape.
constexpr std::array<bool, 256> stringStops = [] {
    std::array<bool, 256> stops{};
    for (unsigned c = 0; c < 0x20; ++c)
        stops[c] = true;
    stops['"'] = stops['\\'] = true;
    return stops;
}();

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One JSON string after its opening quote: hands its characters to a sink with the escapes
// resolved, and refuses what a JSON string cannot hold (a control character, an unknown escape,
// a surrogate without its pair).
class JsonString {
public:
    void begin(Sink& sink) {
        sink_ = &sink;
        state_ = State::plain;
        high_ = 0;
        finished_ = failed_ = false;
    }

    // Takes bytes up to and including the closing quote and gives how many it took.
    std::size_t feed(std::string_view bytes) {
        const char* const data = bytes.data();
        const std::size_t size = bytes.size();
        std::size_t i = 0;
        while (i < size) {
            if (state_ == State::plain) {
                std::size_t j = i;
                while (j < size && !stringStops[static_cast<unsigned char>(data[j])])
                    ++j;
                if (j > i) sink_->text(std::string_view(data + i, j - i));
                if (j == size) return size;
                const char stop = data[j];
                i = j + 1;
                if (stop == '"') {
                    finished_ = true;
                    return i;
                }
                if (stop != '\\') return fail(i);
                state_ = State::escape;
                continue;
            }
            const unsigned char c = static_cast<unsigned char>(data[i++]);
            switch (state_) {
            case State::escape: {
                char plain = 0;
                switch (c) {
                case '"':
                case '\\':
                case '/':
                    plain = static_cast<char>(c);
                    break;
                case 'b':
                    plain = '\b';
                    break;
                case 'f':
                    plain = '\f';
                    break;
                case 'n':
                    plain = '\n';
                    break;
                case 'r':
                    plain = '\r';
                    break;
                case 't':
                    plain = '\t';
                    break;
                case 'u':
                    startUnicode();
                    continue;
                default:
                    return fail(i);
                }
                sink_->text(std::string_view(&plain, 1));
                state_ = State::plain;
                break;
            }
            case State::unicode: {
                const int digit = hexValue(c);
                if (digit < 0) return fail(i);
                code_ = code_ << 4 | static_cast<unsigned>(digit);
                if (++digits_ < 4) break;
                state_ = State::plain;
                if (high_ != 0) {
                    if (code_ < 0xDC00 || code_ > 0xDFFF) return fail(i);
                    emit(0x10000 + ((high_ - 0xD800) << 10) + (code_ - 0xDC00));
                    high_ = 0;
                } else if (code_ >= 0xD800 && code_ < 0xDC00) {
                    high_ = code_;
                    state_ = State::lowBackslash;
                } else if (code_ >= 0xDC00 && code_ <= 0xDFFF) {
                    return fail(i);
                } else {
                    emit(code_);
                }
                break;
            }
            case State::lowBackslash:
                if (c != '\\') return fail(i);
                state_ = State::lowU;
                break;
            case State::lowU:
                if (c != 'u') return fail(i);
                startUnicode();
                break;
            case State::plain:
                break;
            }
        }
        return size;
    }

    bool finished() const { return finished_; }
    bool failed() const { return failed_; }

private:
    enum class State { plain, escape, unicode, lowBackslash, lowU };

    std::size_t fail(std::size_t at) {
        failed_ = true;
        return at;
    }
    void startUnicode() {
        state_ = State::unicode;
        code_ = 0;
        digits_ = 0;
    }
    void emit(unsigned point) {
        char bytes[4];
        std::size_t length = 0;
        if (point < 0x80) {
            bytes[length++] = static_cast<char>(point);
        } else if (point < 0x800) {
            bytes[length++] = static_cast<char>(0xC0 | point >> 6);
            bytes[length++] = static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            bytes[length++] = static_cast<char>(0xE0 | point >> 12);
            bytes[length++] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            bytes[length++] = static_cast<char>(0x80 | (point & 0x3F));
        } else {
            bytes[length++] = static_cast<char>(0xF0 | point >> 18);
            bytes[length++] = static_cast<char>(0x80 | ((point >> 12) & 0x3F));
            bytes[length++] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            bytes[length++] = static_cast<char>(0x80 | (point & 0x3F));
        }
        sink_->text(std::string_view(bytes, length));
    }

    Sink* sink_ = nullptr;
    State state_ = State::plain;
    unsigned code_ = 0;
    unsigned digits_ = 0;
    unsigned high_ = 0;
    bool finished_ = false;
    bool failed_ = false;
};

// Where the payload that counts lies in the text, and what its decoding gave.
struct PayloadPlace {
    std::uint64_t offset = 0; // the first byte after its opening quote
    std::uint64_t size = 0;   // decoded
    Digest digest{};
};

// Follows a whole text as JSON, piece by piece, keeping only the envelope's four fields of the
// root object (the last of repeated keys counts) and the first value of a wrong type; judge()
// then says what the JSON reader of the document would: a failure of the text as JSON first, then
// a value of the wrong type, a missing field, a payload that is not Base64, and the envelope's
// own checks.
class Scanner {
public:
    // The next piece; its text is UTF-8 (a sequence may be completed by the next piece).
    void feed(std::string_view bytes) {
        const std::size_t size = bytes.size();
        std::size_t i = 0;
        while (i < size && fault_ == Fault::none) {
            switch (token_) {
            case Token::string:
                i += string_.feed(bytes.substr(i));
                if (string_.failed())
                    fault(Fault::syntax);
                else if (string_.finished())
                    stringEnded();
                continue;
            case Token::number:
                while (i < size && fault_ == Fault::none && numberStep(bytes[i]))
                    ++i;
                if (i < size && fault_ == Fault::none) numberEnded();
                continue;
            case Token::literal:
                while (i < size && matched_ < literal_.size()) {
                    if (bytes[i] != literal_[matched_]) {
                        fault(Fault::syntax);
                        break;
                    }
                    ++i;
                    ++matched_;
                }
                if (fault_ == Fault::none && matched_ == literal_.size()) {
                    token_ = Token::none;
                    valueEnded();
                }
                continue;
            case Token::none:
                break;
            }
            // White space between tokens, all of a pretty-printed file's indentation, is passed
            // over in one go.
            while (i < size && isSpace(bytes[i]))
                ++i;
            if (i == size) break;
            structural(bytes[i], offset_ + i);
            ++i;
        }
        offset_ += i;
    }

    // Text that is not UTF-8 was found; it outweighs every other fault, as for the JSON reader.
    void notUtf8() { fault_ = Fault::utf8; }
    bool failed() const { return fault_ != Fault::none; }

    // The end of the text.
    void finish() {
        if (fault_ != Fault::none) return;
        if (token_ == Token::number) {
            if (numberComplete())
                numberEnded();
            else
                fault(Fault::number);
        } else if (token_ != Token::none) {
            fault(Fault::syntax);
        }
        if (fault_ != Fault::none) return;
        if (!rootSeen_)
            fault(Fault::empty);
        else if (expect_ != Expect::end)
            fault(Fault::syntax);
    }

    // Throws the failure the text gets, if any; otherwise gives where its payload is.
    PayloadPlace judge() const {
        switch (fault_) {
        case Fault::none:
            break;
        case Fault::utf8:
            throw JSONError("contiene texto UTF-8 no válido");
        case Fault::empty:
            throw JSONError("el texto está vacío");
        case Fault::depth:
            throw JSONError("tiene demasiados niveles anidados");
        case Fault::number:
            throw JSONError("contiene un número que no se puede leer");
        case Fault::syntax:
            throw JSONError("no es JSON válido; está dañado o incompleto");
        }
        if (!rootIsObject_) throw JSONError("se esperaba un objeto");
        // An envelope of this format from a later version of the program: its other fields may
        // mean something else, so nothing more is judged.
        if (format_ == formatName && version_ && *version_ > currentVersion)
            throw PCError::invalid("Formato de datos no compatible (" + std::to_string(*version_) +
                                   "). Actualiza Velmora; los datos originales se conservan.");
        if (wrongType_) throw *wrongType_;
        if (!present_[index(Field::format)]) throw JSONError("falta este campo obligatorio", "format");
        if (!present_[index(Field::payload)]) throw JSONError("falta este campo obligatorio", "payload");
        if (!present_[index(Field::sha256)]) throw JSONError("falta este campo obligatorio", "sha256");
        if (!present_[index(Field::version)]) throw JSONError("falta este campo obligatorio", "version");
        if (!payloadValid_) throw JSONError("el contenido binario no es Base64 válido", "payload");
        if (!(format_ == formatName) || version_ != currentVersion) refuse();
        if (!(digest_ == hex(payloadPlace_.digest))) refuse();
        // The last journal entry folded into the document; absent means none.
        if (journal_ && *journal_ < 0) refuse();
        return payloadPlace_;
    }

    // The envelope's "journal" value once judge() accepted it: 0 when absent.
    std::int64_t journal() const { return journal_.value_or(0); }

private:
    enum class Fault { none, utf8, empty, syntax, number, depth };
    enum class Expect { root, value, firstKey, key, colon, next, firstValue, end };
    enum class Token { none, string, number, literal };
    enum class Field { other, format, payload, sha256, version, journal };
    enum class Number { sign, zero, integer, dot, fraction, exponentMark, exponentSign, exponent };

    static std::size_t index(Field field) { return static_cast<std::size_t>(field); }

    void fault(Fault fault) {
        if (fault_ == Fault::none) fault_ = fault;
    }

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    bool inObject() const { return depth_ > 0 && !arrays_[depth_]; }

    void structural(char c, std::uint64_t position) {
        if (isSpace(c)) return;
        switch (expect_) {
        case Expect::firstValue:
            if (c == ']') return close(c);
            return startValue(c, position);
        case Expect::root:
        case Expect::value:
            return startValue(c, position);
        case Expect::firstKey:
            if (c == '}') return close(c);
            [[fallthrough]];
        case Expect::key:
            if (c != '"') return fault(Fault::syntax);
            return startKey();
        case Expect::colon:
            if (c != ':') return fault(Fault::syntax);
            expect_ = Expect::value;
            return;
        case Expect::next:
            if (c == ',') {
                expect_ = inObject() ? Expect::key : Expect::value;
                return;
            }
            if (c == '}' || c == ']') return close(c);
            return fault(Fault::syntax);
        case Expect::end:
            return fault(Fault::syntax);
        }
    }

    void startKey() {
        if (depth_ == 1) {
            key_.clear();
            string_.begin(key_);
        } else {
            string_.begin(discard_);
        }
        stringIsKey_ = true;
        token_ = Token::string;
    }

    void startValue(char c, std::uint64_t position) {
        // Only the members of the root object are the envelope's fields.
        const Field field = depth_ == 1 && inObject() ? field_ : Field::other;
        if (field != Field::other) present_[index(field)] = true;
        if (depth_ == 0) {
            rootSeen_ = true;
            rootIsObject_ = c == '{';
        }
        valueField_ = field;
        switch (c) {
        case '{':
        case '[':
            wrongType(field);
            if (depth_ == maximumDepth) return fault(Fault::depth);
            ++depth_;
            arrays_[depth_] = c == '[';
            expect_ = c == '{' ? Expect::firstKey : Expect::firstValue;
            return;
        case '"':
            stringIsKey_ = false;
            token_ = Token::string;
            switch (field) {
            case Field::format:
                value_.clear();
                string_.begin(value_);
                return;
            case Field::sha256:
                value_.clear();
                string_.begin(value_);
                return;
            case Field::payload:
                payload_.restart();
                payloadOffset_ = position + 1;
                string_.begin(payload_);
                return;
            case Field::version:
            case Field::journal:
                wrongType(field);
                string_.begin(discard_);
                return;
            case Field::other:
                string_.begin(discard_);
                return;
            }
            return;
        case 't':
        case 'f':
        case 'n':
            wrongType(field);
            literal_ = c == 't' ? "true" : c == 'f' ? "false" : "null";
            matched_ = 1;
            token_ = Token::literal;
            return;
        default:
            if (c != '-' && (c < '0' || c > '9')) return fault(Fault::syntax);
            if (field != Field::version && field != Field::journal) wrongType(field);
            number_ = c == '-' ? Number::sign : c == '0' ? Number::zero : Number::integer;
            numberText_.assign(1, c);
            numberLong_ = false;
            integerDigits_ = c >= '1' && c <= '9' ? 1 : 0;
            exponent_ = 0;
            exponentNegative_ = false;
            token_ = Token::number;
            return;
        }
    }

    void close(char c) {
        if (depth_ == 0 || arrays_[depth_] != (c == ']')) return fault(Fault::syntax);
        --depth_;
        valueEnded();
    }

    void valueEnded() {
        token_ = Token::none;
        expect_ = depth_ == 0 ? Expect::end : Expect::next;
    }

    void stringEnded() {
        token_ = Token::none;
        if (stringIsKey_) {
            if (depth_ == 1) {
                field_ = key_ == "format"    ? Field::format
                         : key_ == "payload" ? Field::payload
                         : key_ == "sha256"  ? Field::sha256
                         : key_ == "version" ? Field::version
                         : key_ == "journal" ? Field::journal
                                             : Field::other;
            }
            expect_ = Expect::colon;
            return;
        }
        switch (valueField_) {
        case Field::format:
            format_ = value_;
            break;
        case Field::sha256:
            digest_ = value_;
            break;
        case Field::payload:
            payload_.end();
            payloadValid_ = payload_.valid();
            payloadPlace_ = {payloadOffset_, payload_.size(), payload_.digest()};
            break;
        case Field::version:
        case Field::journal:
        case Field::other:
            break;
        }
        valueEnded();
    }

    // Takes one more character of a number; false when it ends the number (it is then read as
    // what follows) or cannot continue it.
    bool numberStep(char c) {
        const bool digit = c >= '0' && c <= '9';
        switch (number_) {
        case Number::sign:
            if (!digit) return numberFault();
            number_ = c == '0' ? Number::zero : Number::integer;
            break;
        case Number::zero:
            if (digit) return numberFault();
            if (c == '.')
                number_ = Number::dot;
            else if (c == 'e' || c == 'E')
                number_ = Number::exponentMark;
            else
                return false;
            break;
        case Number::integer:
        case Number::fraction:
            if (c == '.' && number_ == Number::integer)
                number_ = Number::dot;
            else if (c == 'e' || c == 'E')
                number_ = Number::exponentMark;
            else if (!digit)
                return false;
            break;
        case Number::dot:
            if (!digit) return numberFault();
            number_ = Number::fraction;
            break;
        case Number::exponentMark:
            if (c == '+' || c == '-')
                number_ = Number::exponentSign;
            else if (digit)
                number_ = Number::exponent;
            else
                return numberFault();
            break;
        case Number::exponentSign:
            if (!digit) return numberFault();
            number_ = Number::exponent;
            break;
        case Number::exponent:
            if (!digit) return false;
            break;
        }
        if (numberText_.size() < 64)
            numberText_.push_back(c);
        else
            numberLong_ = true;
        // For a number too long to keep: its digits before the point and its exponent, enough to
        // tell whether it is beyond what a double holds.
        if (digit && number_ == Number::integer) ++integerDigits_;
        if (digit && number_ == Number::exponent && exponent_ < 100'000)
            exponent_ = exponent_ * 10 + (c - '0');
        if (number_ == Number::exponentSign) exponentNegative_ = c == '-';
        return true;
    }

    bool numberFault() {
        fault(Fault::number);
        return false;
    }

    bool numberComplete() const {
        return number_ == Number::zero || number_ == Number::integer || number_ == Number::fraction ||
               number_ == Number::exponent;
    }

    void numberEnded() {
        if (!numberComplete()) return fault(Fault::number);
        // As the JSON reader reads numbers: an integer is a 64-bit signed one, or an unsigned one
        // (of the wrong type for the version) up to 2^64 - 1; beyond, or a fraction too large
        // for a double, the number cannot be read.
        const char* const first = numberText_.data();
        const char* const last = first + numberText_.size();
        std::optional<std::int64_t> integer;
        if (number_ == Number::zero || number_ == Number::integer) {
            std::int64_t value = 0;
            if (!numberLong_ && std::from_chars(first, last, value).ec == std::errc())
                integer = value;
            else {
                std::uint64_t unsignedValue = 0;
                if (numberLong_ || numberText_.front() == '-' ||
                    std::from_chars(first, last, unsignedValue).ec != std::errc())
                    return fault(Fault::number);
            }
        } else if (!numberLong_) {
            // Too small a magnitude reads as zero; only one too large has no value.
            double value = 0;
            if (std::from_chars(first, last, value).ec == std::errc::result_out_of_range &&
                !exponentNegative_)
                return fault(Fault::number);
        } else if (!exponentNegative_ && integerDigits_ + exponent_ > 309) {
            return fault(Fault::number);
        }
        if (valueField_ == Field::version) {
            if (integer)
                version_ = *integer;
            else
                wrongType(Field::version);
        }
        if (valueField_ == Field::journal) {
            if (integer)
                journal_ = *integer;
            else
                wrongType(Field::journal);
        }
        valueEnded();
    }

    // The first value of a wrong type among the envelope's fields, as the reader meets it.
    void wrongType(Field field) {
        if (field == Field::other || wrongType_) return;
        const std::string_view key = field == Field::format    ? "format"
                                     : field == Field::payload ? "payload"
                                     : field == Field::sha256  ? "sha256"
                                     : field == Field::journal ? "journal"
                                                               : "version";
        const bool integer = field == Field::version || field == Field::journal;
        wrongType_ =
            JSONError(integer ? "se esperaba un número entero" : "se esperaba un texto", std::string(key));
    }

    Fault fault_ = Fault::none;
    Expect expect_ = Expect::root;
    Token token_ = Token::none;
    std::uint64_t offset_ = 0;
    std::size_t depth_ = 0;
    std::bitset<maximumDepth + 1> arrays_;
    bool rootSeen_ = false;
    bool rootIsObject_ = false;

    JsonString string_;
    bool stringIsKey_ = false;
    Short key_;
    Short value_;
    Discard discard_;
    Payload payload_;
    std::uint64_t payloadOffset_ = 0;

    std::string_view literal_;
    std::size_t matched_ = 0;
    Number number_ = Number::integer;
    std::string numberText_;
    bool numberLong_ = false;
    std::int64_t integerDigits_ = 0;
    std::int64_t exponent_ = 0;
    bool exponentNegative_ = false;

    // The field of the member being read, and of the value being read.
    Field field_ = Field::other;
    Field valueField_ = Field::other;

    std::array<bool, 6> present_{};
    Short format_;
    Short digest_;
    std::optional<std::int64_t> version_;
    std::optional<std::int64_t> journal_;
    bool payloadValid_ = false;
    PayloadPlace payloadPlace_;
    std::optional<JSONError> wrongType_;
};

// The length of the UTF-8 sequence a lead byte starts, 0 for a continuation byte.
std::size_t sequenceLength(unsigned char c) {
    if (c < 0x80) return 1;
    if (c < 0xC0) return 0;
    if (c < 0xE0) return 2;
    if (c < 0xF0) return 3;
    return 4;
}

// A document buffer of `size` bytes with the JSON reader's padding after its end, and the sink
// that decodes the payload into it.
struct Extraction {
    explicit Extraction(const PayloadPlace& place) {
        if (place.size > document.max_size() - simdjson::SIMDJSON_PADDING) refuse();
        document.reserve(static_cast<std::size_t>(place.size) + simdjson::SIMDJSON_PADDING);
        document.resize(static_cast<std::size_t>(place.size));
        payload.restart(document.data(), document.size());
        string.begin(payload);
    }
    // After the payload's last byte was fed: the document, when it is exactly what the first pass
    // found. A file changed in between fails here.
    std::string finish(const PayloadPlace& place) {
        if (!string.finished() || string.failed()) refuse();
        payload.end();
        if (!payload.valid() || payload.size() != place.size || payload.digest() != place.digest) refuse();
        return std::move(document);
    }

    std::string document;
    Payload payload;
    JsonString string;
};

[[noreturn]] void readFailure(const fs::path& path, int error) {
    throw fs::filesystem_error("No se pudo leer el archivo", path,
                               std::error_code(error, std::generic_category()));
}

// Reads up to `size` bytes at `offset`; 0 at the end of the file.
std::size_t readAt(int fd, const fs::path& path, char* buffer, std::size_t size, std::uint64_t offset) {
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, size, static_cast<off_t>(offset));
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) readFailure(path, errno);
    }
}

} // namespace

std::string unwrapScanned(std::string_view envelope, std::int64_t* journal) {
    // The whole text is one piece: its UTF-8 is checked first, as the JSON reader does.
    const auto scanner = std::make_unique<Scanner>();
    if (simdjson::validate_utf8(envelope.data(), envelope.size()))
        scanner->feed(envelope);
    else
        scanner->notUtf8();
    scanner->finish();
    const PayloadPlace place = scanner->judge();
    if (journal) *journal = scanner->journal();
    Extraction extraction(place);
    extraction.string.feed(envelope.substr(static_cast<std::size_t>(place.offset)));
    return extraction.finish(place);
}

std::string readWithJournal(int fd, const fs::path& path, std::int64_t* journal) {
    const auto scanner = std::make_unique<Scanner>();
    // Room for the piece and for the start of a UTF-8 sequence cut at the end of the one before.
    std::vector<char> buffer(pieceSize + 4);
    std::size_t carried = 0;
    std::uint64_t position = 0;
    for (;;) {
        const std::size_t got = readAt(fd, path, buffer.data() + carried, pieceSize, position);
        if (got == 0) {
            // A sequence cut by the end of the file is not UTF-8.
            if (carried != 0) scanner->notUtf8();
            break;
        }
        position += got;
        const std::size_t end = carried + got;
        std::size_t cut = end;
        for (std::size_t back = 1; back <= 3 && back <= end; ++back) {
            const std::size_t length = sequenceLength(static_cast<unsigned char>(buffer[end - back]));
            if (length == 0) continue;
            if (length > back) cut = end - back;
            break;
        }
        if (!simdjson::validate_utf8(buffer.data(), cut)) {
            scanner->notUtf8();
            break;
        }
        scanner->feed(std::string_view(buffer.data(), cut));
        // The first fault decides; the rest of the file is never read.
        if (scanner->failed()) break;
        carried = end - cut;
        std::memmove(buffer.data(), buffer.data() + cut, carried);
    }
    scanner->finish();
    const PayloadPlace place = scanner->judge();
    if (journal) *journal = scanner->journal();

    // The second pass decodes only the payload, straight into the document's buffer.
    Extraction extraction(place);
    for (std::uint64_t at = place.offset; !extraction.string.finished() && !extraction.string.failed();) {
        const std::size_t got = readAt(fd, path, buffer.data(), pieceSize, at);
        if (got == 0) break;
        at += got;
        extraction.string.feed(std::string_view(buffer.data(), got));
    }
    return extraction.finish(place);
}

std::string read(int fd, const fs::path& path) {
    return readWithJournal(fd, path, nullptr);
}

} // namespace pizzacore::Envelope
