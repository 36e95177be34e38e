// The envelope read in pieces against the envelope read as a whole tree: whatever JSON form an
// envelope takes, and wherever the pieces of a file end, both readings give the same document
// or the same refusal, word for word.

#include <PizzaCore/Persistence/Envelope.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

using namespace pizzacore;

const std::string integrityMessage =
    "La copia no es válida o su integridad no coincide. No se han sustituido los datos.";

// The document bytes, or the kind and text of the failure.
std::string exactOutcome(const std::function<std::string()>& unwrap) {
    try {
        return "document " + unwrap();
    } catch (const PCError& error) {
        return "refused " + error.message();
    } catch (const JSONError& error) {
        return std::string("unreadable ") + error.what();
    }
}

// The same, where a text that is not JSON at all is only said to be unreadable: readers that
// follow the text in different ways meet different faults of it first.
std::string outcome(const std::function<std::string()>& unwrap) {
    try {
        return "document " + unwrap();
    } catch (const PCError& error) {
        return "refused " + error.message();
    } catch (const JSONError& error) {
        return error.path().empty() ? "unreadable" : std::string("unreadable ") + error.what();
    }
}

// A file that lives in memory only.
class MemoryFile {
public:
    MemoryFile()
        : fd_(::memfd_create("envelope", MFD_CLOEXEC)) {}
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    std::string read(const std::string& bytes) {
        EXPECT_EQ(::ftruncate(fd_, 0), 0);
        EXPECT_EQ(::pwrite(fd_, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        return exactOutcome([&] { return Envelope::read(fd_, "copia.velmorabackup"); });
    }

private:
    int fd_;
};

const std::string document = "{\"hola\":\"mundo\"} ¿?>>\xff\xfe\xfd";
const std::string digest = Envelope::hex(Envelope::sha256(document));

std::string base64(std::string_view bytes) {
    return Base64::encode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// The Base64 text of the document, which holds "+" and "/".
const std::string payload = base64(document);

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::logic_error("nothing to replace: " + from);
    return text.replace(at, from.size(), to);
}

std::string envelope(const std::string& format, const std::string& payloadValue, const std::string& sha256,
                     const std::string& version, const std::string& between = ",") {
    return "{\"format\":" + format + between + "\"payload\":" + payloadValue + between +
           "\"sha256\":" + sha256 + between + "\"version\":" + version + "}";
}

const std::string good = envelope("\"Velmora\"", "\"" + payload + "\"", "\"" + digest + "\"", "1");

// The character written as a JSON unicode escape.
std::string escaped(char c) {
    constexpr char digits[] = "0123456789abcdef";
    const auto value = static_cast<unsigned char>(c);
    return std::string("\\u00") + digits[value >> 4] + digits[value & 15];
}

std::string nested(std::size_t depth) {
    return std::string(depth - 1, '[') + std::string(depth - 1, ']');
}

TEST(EnvelopeReading, EveryJSONFormReadsAsTheTreeParserReadsIt) {
    ASSERT_NE(payload.find('/'), std::string::npos);
    ASSERT_NE(payload.find('+'), std::string::npos);
    const std::vector<std::pair<std::string, std::string>> cases = {
        // Sound envelopes in other forms than the written one.
        {"written form", Envelope::wrap(document)},
        {"compact, slashes unescaped", good},
        {"white space everywhere", " \n\t{ \"format\" : \"Velmora\" ,\r\n \"payload\" :\"" + payload +
                                       "\", \"sha256\": \"" + digest + "\" , \"version\" :1 }\n "},
        {"keys in another order", "{\"version\":1,\"sha256\":\"" + digest + "\",\"payload\":\"" + payload +
                                      "\",\"format\":\"Velmora\"}"},
        {"escapes in keys and values", "{\"\\u0066ormat\":\"Velm\\u006fra\",\"pay\\u006coad\":\"" +
                                           escaped(payload[0]) + payload.substr(1) + "\",\"sha256\":\"" +
                                           digest + "\",\"version\":1}"},
        {"unknown keys of every kind",
         replaced(good, "{",
                  "{\"a\":{\"b\":[1,-2.5e3,0.5E+2,-0,true,false,null,{}],\"c\":\"\\ud83d\\ude00ñ€\"},"
                  "\"\":[[]],\"d\":\"\\\"\\\\\\/\\b\\f\\n\\r\\t\",")},
        {"a later payload counts", replaced(good, "{", "{\"payload\":\"QUJD\",")},
        {"a later, wrong payload counts", good.substr(0, good.size() - 1) + ",\"payload\":\"QUJD\"}"},
        {"an empty document",
         envelope("\"Velmora\"", "\"\"", "\"" + Envelope::hex(Envelope::sha256("")) + "\"", "1")},
        {"nested as deep as allowed", replaced(good, "{", "{\"x\":" + nested(1024) + ",")},
        {"an unknown tiny number", replaced(good, "{", "{\"x\":1e-400,")},
        // The envelope's own checks.
        {"digest in upper case", replaced(good, digest,
                                          [] {
                                              std::string upper = digest;
                                              for (char& c : upper)
                                                  c = static_cast<char>(
                                                      std::toupper(static_cast<unsigned char>(c)));
                                              return upper;
                                          }())},
        {"digest too long", replaced(good, digest, digest + "0")},
        {"digest of other bytes", replaced(good, digest, Envelope::hex(Envelope::sha256("x")))},
        {"another format", replaced(good, "\"Velmora\"", "\"velmora\"")},
        {"format with a space", replaced(good, "\"Velmora\"", "\"Velmora \"")},
        {"version 0", replaced(good, "\"version\":1", "\"version\":0")},
        {"version -0", replaced(good, "\"version\":1", "\"version\":-0")},
        {"version -1", replaced(good, "\"version\":1", "\"version\":-1")},
        {"version 2", replaced(good, "\"version\":1", "\"version\":2")},
        {"version 2 with nothing else right",
         "{\"format\":\"Velmora\",\"payload\":7,\"version\":2,\"sha256\":null,\"extra\":1}"},
        {"version 2 of another format",
         replaced(replaced(good, "\"version\":1", "\"version\":2"), "\"Velmora\"", "\"Otra\"")},
        {"version 9223372036854775807", replaced(good, "\"version\":1", "\"version\":9223372036854775807")},
        // Values of the wrong type and missing keys.
        {"version 1.0", replaced(good, "\"version\":1", "\"version\":1.0")},
        {"version 1e0", replaced(good, "\"version\":1", "\"version\":1e0")},
        {"version as text", replaced(good, "\"version\":1", "\"version\":\"1\"")},
        {"version null", replaced(good, "\"version\":1", "\"version\":null")},
        {"version true", replaced(good, "\"version\":1", "\"version\":true")},
        {"version as a list", replaced(good, "\"version\":1", "\"version\":[1]")},
        {"version beyond 64 signed bits",
         replaced(good, "\"version\":1", "\"version\":18446744073709551615")},
        {"format as a number", replaced(good, "\"Velmora\"", "7")},
        {"payload as an object", replaced(good, "\"" + payload + "\"", "{}")},
        {"digest null", replaced(good, "\"" + digest + "\"", "null")},
        {"a wrong type before a right one", replaced(good, "{", "{\"version\":\"1\",")},
        {"no format", replaced(good, "\"format\":\"Velmora\",", "")},
        {"no payload", replaced(good, "\"payload\":\"" + payload + "\",", "")},
        {"no digest", replaced(good, "\"sha256\"", "\"sha257\"")},
        {"no version", replaced(good, ",\"version\":1", "")},
        {"keys inside another object only",
         "{\"x\":{\"format\":\"Velmora\",\"payload\":\"\",\"sha256\":\"\",\"version\":1}}"},
        // Payloads that are not Base64.
        {"payload cut short", replaced(good, payload, payload.substr(1))},
        {"payload with a space", replaced(good, payload, payload.substr(0, 4) + " " + payload.substr(4))},
        {"payload with a line break",
         replaced(good, payload, payload.substr(0, 4) + "\\n" + payload.substr(4))},
        {"padding inside", replaced(good, payload, "QQ==" + payload)},
        {"three padding characters", envelope("\"Velmora\"", "\"Q===\"", "\"" + digest + "\"", "1")},
        {"padding after one character", envelope("\"Velmora\"", "\"QUJ=\"", "\"" + digest + "\"", "1")},
        {"unused bits set", envelope("\"Velmora\"", "\"QR==\"", "\"" + digest + "\"", "1")},
        {"a character after the padding", envelope("\"Velmora\"", "\"QQ==QQ==\"", "\"" + digest + "\"", "1")},
        // Text that is not JSON.
        {"empty", ""},
        {"white space only", " \n\t "},
        {"a list", "[1,2,3]"},
        {"a text", "\"Velmora\""},
        {"a number", "12"},
        {"null", "null"},
        {"a byte-order mark", "\xEF\xBB\xBF" + good},
        {"trailing comma", replaced(good, "}", ",}")},
        {"missing colon", replaced(good, "\"version\":", "\"version\" ")},
        {"missing comma", replaced(good, ",\"version\"", " \"version\"")},
        {"two values in a row", replaced(good, "\"version\":1", "\"version\":1 2")},
        {"unterminated", good.substr(0, good.size() - 1)},
        {"unterminated text", good.substr(0, good.size() / 2)},
        {"text after the end", good + " x"},
        {"a second object", good + "{}"},
        {"closed with a bracket", good.substr(0, good.size() - 1) + "]"},
        {"a control character in a text", replaced(good, "Velmora", "Vel\tmora")},
        {"an unknown escape", replaced(good, "{", "{\"x\":\"\\x\",")},
        {"a short unicode escape", replaced(good, "{", "{\"x\":\"\\u12\",")},
        {"a lone low surrogate", replaced(good, "{", "{\"x\":\"\\udc00\",")},
        {"a high surrogate without its pair", replaced(good, "{", "{\"x\":\"\\ud800x\",")},
        {"a high surrogate before another escape", replaced(good, "{", "{\"x\":\"\\ud800\\u0041\",")},
        {"invalid UTF-8 in a value", replaced(good, "{", "{\"x\":\"\xff\",")},
        {"invalid UTF-8 in a key", replaced(good, "{", "{\"\xc0\xaf\":1,")},
        {"invalid UTF-8 outside texts", good + "\xff"},
        {"a sequence cut at the end", good + "\xe2\x82"},
        {"too deep", replaced(good, "{", "{\"x\":" + nested(1025) + ",")},
        {"a leading zero", replaced(good, "{", "{\"x\":01,")},
        {"a bare point", replaced(good, "{", "{\"x\":.5,")},
        {"a point without digits", replaced(good, "{", "{\"x\":1.,")},
        {"an exponent without digits", replaced(good, "{", "{\"x\":1e,")},
        {"a lone minus", replaced(good, "{", "{\"x\":-,")},
        {"a number too large", replaced(good, "{", "{\"x\":1e400,")},
        {"an integer too large", replaced(good, "{", "{\"x\":123456789012345678901234567890,")},
        {"an integer too small", replaced(good, "{", "{\"x\":-9223372036854775809,")},
        {"a literal cut short", replaced(good, "{", "{\"x\":tru,")},
        {"a literal run on", replaced(good, "{", "{\"x\":truex,")},
        {"an unknown word", replaced(good, "{", "{\"x\":yes,")},
        {"a literal at the end", good.substr(0, good.size() - 1) + ",\"x\":nul"},
    };
    MemoryFile file;
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(outcome([&] { return Envelope::unwrap(bytes); }),
                  outcome([&] { return Envelope::unwrapJSON(bytes); }));
        EXPECT_EQ(file.read(bytes), exactOutcome([&] { return Envelope::unwrap(bytes); }));
    }

    // A few outcomes spelt out: what must read, what the later version says.
    const std::string later =
        "refused Formato de datos no compatible (2). Actualiza Velmora; los datos originales se conservan.";
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"written form", "document " + document},
        {"white space everywhere", "document " + document},
        {"escapes in keys and values", "document " + document},
        {"unknown keys of every kind", "document " + document},
        {"a later payload counts", "document " + document},
        {"a later, wrong payload counts", "refused " + integrityMessage},
        {"digest in upper case", "refused " + integrityMessage},
        {"version 0", "refused " + integrityMessage},
        {"version 2 of another format", "refused " + integrityMessage},
        {"version 2", later},
        {"version 2 with nothing else right", later},
    };
    for (const auto& [name, result] : expected) {
        SCOPED_TRACE(name);
        const auto found =
            std::find_if(cases.begin(), cases.end(), [&](const auto& c) { return c.first == name; });
        ASSERT_NE(found, cases.end());
        EXPECT_EQ(file.read(found->second), result);
    }
}

TEST(EnvelopeReading, PiecesOfAFileMayEndAnywhere) {
    // Every kind of token of a sound envelope in turn falls on the end of the first piece of a
    // file (a megabyte): escapes, surrogate pairs, characters of several bytes, numbers, literals
    // and the payload's escaped slashes.
    std::string escapedPayload = payload;
    for (std::size_t at = 0; (at = escapedPayload.find('/', at)) != std::string::npos; at += 2)
        escapedPayload.insert(at, "\\");
    const std::string body =
        "\"a\":[true,false,null,-12.5e-3,0,\"\\ud83d\\ude00ñ€😀\\u00e9\\n\"],\"format\":\"Vel\\u006dora\","
        "\"payload\":\"" +
        escaped(escapedPayload[0]) + escapedPayload.substr(1) + "\",\"sha256\":\"" + digest +
        "\",\"version\":1}";
    constexpr std::size_t piece = std::size_t(1) << 20;
    MemoryFile file;
    for (std::size_t into = 1; into < body.size(); ++into) {
        SCOPED_TRACE(into);
        const std::string bytes = "{" + std::string(piece - 1 - into, ' ') + body;
        ASSERT_EQ(file.read(bytes), "document " + document);
    }
}

} // namespace
