#include "Envelope.hpp"

#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Json/Json.hpp>
#include <PizzaCore/Json/Reader.hpp>
#include <PizzaCore/Persistence/AtomicFile.hpp>
#include <PizzaCore/Persistence/EnvelopeScanner.hpp>

#include <openssl/evp.h>
#include <simdjson.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace pizzacore::Envelope {

namespace {

constexpr std::string_view integrityMessage =
    "La copia no es válida o su integridad no coincide. No se han sustituido los datos.";

constexpr std::string_view prefix = R"({"format":"Velmora","payload":")";
// With a journal entry, the written form begins with `formatHead`, `journalKey`, the sequence in
// decimal without leading zeros and `payloadHead`.
constexpr std::string_view formatHead = R"({"format":"Velmora",)";
constexpr std::string_view journalKey = R"("journal":)";
constexpr std::string_view payloadHead = R"(,"payload":")";
// The longest beginning of the written form: the journal entry has at most 19 digits.
constexpr std::size_t longestHead = formatHead.size() + journalKey.size() + 19 + payloadHead.size();

std::string writtenHead(std::int64_t journal) {
    if (journal <= 0) return std::string(prefix);
    std::string head(formatHead);
    head += journalKey;
    head += std::to_string(journal);
    head += payloadHead;
    return head;
}

// The journal entry named by a beginning of the written form, which ends with the payload's
// opening quote; nothing when it is not exactly what writtenHead makes.
std::optional<std::int64_t> parseWrittenHead(std::string_view head) {
    if (head == prefix) return 0;
    if (!head.starts_with(formatHead)) return std::nullopt;
    head.remove_prefix(formatHead.size());
    if (!head.starts_with(journalKey) || !head.ends_with(payloadHead)) return std::nullopt;
    head.remove_prefix(journalKey.size());
    head.remove_suffix(payloadHead.size());
    if (head.empty() || head.size() > 19 || head.front() == '0') return std::nullopt;
    std::int64_t value = 0;
    for (const char c : head) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}
constexpr std::string_view middle = R"(","sha256":")";
constexpr std::string_view suffix = R"(","version":1})";

struct Fields {
    std::optional<std::string_view> format;
    std::optional<std::string_view> payload;
    std::optional<std::string_view> sha256;
    std::optional<std::int64_t> version;
    std::optional<std::int64_t> journal;
};

// Decodes Base64 text in which "/" may be written "\\/", as a JSON string holds it, straight into
// the output. Gives nothing for any other text, including another JSON escape.
std::optional<std::string> decodeEscapedBase64(std::string_view text) {
    std::size_t padding = 0;
    while (padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    if (padding > 2) return std::nullopt;
    text.remove_suffix(padding);
    const std::size_t escapes = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\\'));
    const std::size_t logical = text.size() - escapes + padding;
    if (logical % 4 != 0) return std::nullopt;
    const std::size_t size = logical / 4 * 3 - padding;

    std::string out;
    out.reserve(size + simdjson::SIMDJSON_PADDING);
    out.resize(size);
    char* p = out.data();
    // Characters of a group split by an escape wait here for the rest of their group.
    unsigned carried[4] = {};
    std::size_t carriedCount = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = in + text.size();
    while (in < end) {
        const auto* segmentEnd =
            static_cast<const unsigned char*>(std::memchr(in, '\\', static_cast<std::size_t>(end - in)));
        if (!segmentEnd) segmentEnd = end;
        while (carriedCount > 0 && carriedCount < 4 && in < segmentEnd)
            carried[carriedCount++] = Base64::values[*in++];
        if (carriedCount == 4) {
            if ((carried[0] | carried[1] | carried[2] | carried[3]) & 0x80) return std::nullopt;
            const unsigned v = carried[0] << 18 | carried[1] << 12 | carried[2] << 6 | carried[3];
            p[0] = static_cast<char>(v >> 16);
            p[1] = static_cast<char>(v >> 8);
            p[2] = static_cast<char>(v);
            p += 3;
            carriedCount = 0;
        }
        for (; carriedCount == 0 && segmentEnd - in >= 4; in += 4, p += 3) {
            const unsigned a = Base64::values[in[0]], b = Base64::values[in[1]], c = Base64::values[in[2]],
                           d = Base64::values[in[3]];
            if ((a | b | c | d) & 0x80) return std::nullopt;
            const unsigned v = a << 18 | b << 12 | c << 6 | d;
            p[0] = static_cast<char>(v >> 16);
            p[1] = static_cast<char>(v >> 8);
            p[2] = static_cast<char>(v);
        }
        while (in < segmentEnd)
            carried[carriedCount++] = Base64::values[*in++];
        if (segmentEnd < end) {
            // The only escape Base64 text can hold is "\\/"; the slash starts the next segment.
            if (segmentEnd + 1 == end || segmentEnd[1] != '/') return std::nullopt;
            in = segmentEnd + 1;
        }
    }
    // What remains is the last group, whose missing characters are the padding.
    if (carriedCount != (4 - padding) % 4) return std::nullopt;
    if (padding) {
        const unsigned c = padding == 1 ? carried[2] : 0;
        if ((carried[0] | carried[1] | c) & 0x80) return std::nullopt;
        const unsigned v = carried[0] << 18 | carried[1] << 12 | c << 6;
        // The unused low bits must be zero, so each text has one meaning.
        if ((padding == 2 && (v & 0xFFFF)) || (padding == 1 && (v & 0xFF))) return std::nullopt;
        p[0] = static_cast<char>(v >> 16);
        if (padding == 1) p[1] = static_cast<char>(v >> 8);
    }
    return out;
}

// The envelope exactly as this system writes it is read without a JSON parser: the fixed text
// around the payload and the digest, a payload of Base64 characters and escaped slashes, and a
// digest of lower-case hexadecimal digits make it one JSON object with these four keys and
// nothing else. Anything different gives nothing and is read by the JSON reader.
std::optional<std::string> unwrapCanonical(std::string_view envelope, std::int64_t& journal) {
    constexpr std::size_t digestLength = 64;
    // Base64 holds no quote: the first `"payload":"` ends the beginning.
    const std::size_t payloadKey = envelope.substr(0, longestHead).find(R"("payload":")");
    if (payloadKey == std::string_view::npos) return std::nullopt;
    const std::size_t headSize = payloadKey + std::string_view(R"("payload":")").size();
    const std::optional<std::int64_t> folded = parseWrittenHead(envelope.substr(0, headSize));
    if (!folded) return std::nullopt;
    if (envelope.size() < headSize + middle.size() + digestLength + suffix.size() ||
        !envelope.ends_with(suffix))
        return std::nullopt;
    const std::string_view digest =
        envelope.substr(envelope.size() - suffix.size() - digestLength, digestLength);
    if (!std::all_of(digest.begin(), digest.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
        return std::nullopt;
    const std::size_t payloadEnd = envelope.size() - suffix.size() - digestLength - middle.size();
    if (envelope.substr(payloadEnd, middle.size()) != middle) return std::nullopt;
    std::optional<std::string> document =
        decodeEscapedBase64(envelope.substr(headSize, payloadEnd - headSize));
    if (!document) return std::nullopt;
    if (hex(sha256(*document)) != digest) throw PCError::invalid(std::string(integrityMessage));
    journal = *folded;
    return document;
}

std::string newerVersionMessage(std::int64_t version) {
    return "Formato de datos no compatible (" + std::to_string(version) +
           "). Actualiza Velmora; los datos originales se conservan.";
}

// The parser owns the element's text, so it outlives the reading.
std::string unwrapParsed(simdjson::simdjson_result<simdjson::dom::element> parsed, std::int64_t& journal) {
    simdjson::dom::element root;
    if (auto error = std::move(parsed).get(root)) json::failParse(error);

    // As for every record: unknown keys are ignored, the last of repeated keys counts and every
    // key is required (null is a value of the wrong type). The first value of a wrong type is
    // kept, so that an envelope of a later version is recognised whatever its fields hold.
    Fields fields;
    std::optional<JSONError> wrongType;
    const auto readField = [&wrongType](std::string_view key, auto read, auto& field) {
        try {
            field = read();
        } catch (JSONError& error) {
            if (wrongType) return;
            error.prependKey(key);
            wrongType = std::move(error);
        }
    };
    for (const auto& member : json::readObject(root)) {
        const std::string_view key = member.key;
        const auto value = member.value;
        const auto text = [value] { return json::readStringView(value); };
        if (key == "format")
            readField(key, text, fields.format);
        else if (key == "payload")
            readField(key, text, fields.payload);
        else if (key == "sha256")
            readField(key, text, fields.sha256);
        else if (key == "version")
            readField(
                key, [value] { return json::readInteger(value); }, fields.version);
        else if (key == "journal")
            readField(
                key, [value] { return json::readInteger(value); }, fields.journal);
    }
    if (fields.format == formatName && fields.version && *fields.version > currentVersion)
        throw PCError::invalid(newerVersionMessage(*fields.version));
    if (wrongType) throw *wrongType;
    if (!fields.format) throw JSONError("falta este campo obligatorio", "format");
    if (!fields.payload) throw JSONError("falta este campo obligatorio", "payload");
    if (!fields.sha256) throw JSONError("falta este campo obligatorio", "sha256");
    if (!fields.version) throw JSONError("falta este campo obligatorio", "version");

    std::optional<std::string> document = Base64::decodeToString(*fields.payload, simdjson::SIMDJSON_PADDING);
    if (!document) throw JSONError("el contenido binario no es Base64 válido", "payload");

    if (*fields.format != formatName || *fields.version != currentVersion)
        throw PCError::invalid(std::string(integrityMessage));
    if (hex(sha256(*document)) != *fields.sha256) throw PCError::invalid(std::string(integrityMessage));
    if (fields.journal && *fields.journal < 0) throw PCError::invalid(std::string(integrityMessage));
    journal = fields.journal.value_or(0);
    return std::move(*document);
}

// Follows a file, piece by piece, through the form wrap writes: the fixed beginning, the payload
// as Base64 with escaped slashes (decoded and hashed as it goes), then the fixed text around the
// digest. It is at least as strict as unwrapCanonical, so a file it takes for the written form is
// one unwrapCanonical reads the same way. The document is decoded into a small buffer and
// moved from there to `keep`, whose room is reserved but used only as the document grows: a file
// that leaves the written form early costs no more than it had decoded.
class WrittenForm {
public:
    // `capacity` is the most the document can take (three quarters of the file's size will do).
    WrittenForm(std::string& keep, std::size_t capacity)
        : context_(EVP_MD_CTX_new(), EVP_MD_CTX_free)
        , keep_(keep)
        , capacity_(capacity) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
            throw std::runtime_error("No se pudo calcular el resumen SHA-256.");
        keep_.clear();
        keep_.reserve(capacity + simdjson::SIMDJSON_PADDING);
        start_ = scratch_.data();
        end_ = start_ + scratch_.size();
        out_ = start_;
    }

    void feed(std::string_view bytes) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const auto* const end = p + bytes.size();
        while (p < end && phase_ != Phase::other) {
            // Whole groups of four plain Base64 characters, the bulk of the file, go the short way.
            if (phase_ == Phase::payload && !escape_ && count_ == 0) {
                for (; end - p >= 4 && end_ - out_ >= 3; p += 4) {
                    const unsigned a = Base64::values[p[0]], b = Base64::values[p[1]],
                                   c = Base64::values[p[2]], d = Base64::values[p[3]];
                    if ((a | b | c | d) & 0x80) break;
                    const unsigned v = a << 18 | b << 12 | c << 6 | d;
                    out_[0] = static_cast<char>(v >> 16);
                    out_[1] = static_cast<char>(v >> 8);
                    out_[2] = static_cast<char>(v);
                    out_ += 3;
                }
                if (end_ - out_ < 3) flush();
                if (p == end) break;
            }
            step(*p++);
        }
        flush();
    }

    // After the whole file: whether it was the written form, and then whether its digest matches.
    enum class Verdict { other, matching, mismatching };
    Verdict finish() {
        if (phase_ != Phase::tail || tail_.size() != middle.size() + 64 + suffix.size() ||
            !tail_.starts_with(middle) || !tail_.ends_with(suffix))
            return Verdict::other;
        const std::string_view digest = std::string_view(tail_).substr(middle.size(), 64);
        if (!std::all_of(digest.begin(), digest.end(),
                         [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
            return Verdict::other;
        flush();
        Digest computed{};
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context_.get(), computed.data(), &length) != 1 || length != computed.size())
            throw std::runtime_error("No se pudo calcular el resumen SHA-256.");
        return hex(computed) == digest ? Verdict::matching : Verdict::mismatching;
    }

private:
    enum class Phase { prefix, payload, padded, tail, other };

    void step(unsigned char c) {
        switch (phase_) {
        case Phase::prefix:
            // The beginning, up to the payload's opening quote, is taken whole and then judged.
            if (head_.size() == longestHead) return fail();
            head_.push_back(static_cast<char>(c));
            if (head_.size() <= formatHead.size() &&
                c != static_cast<unsigned char>(formatHead[head_.size() - 1]))
                return fail();
            if (c == '"' && head_.ends_with(R"("payload":")")) {
                const std::optional<std::int64_t> folded = parseWrittenHead(head_);
                if (!folded) return fail();
                journal_ = *folded;
                phase_ = Phase::payload;
            }
            return;
        case Phase::payload:
            if (escape_) {
                // The only escape Base64 text can hold is "\/".
                if (c != '/') return fail();
                escape_ = false;
            } else if (c == '\\') {
                escape_ = true;
                return;
            } else if (c == '"') {
                if (count_ != 0) return fail();
                return endPayload();
            } else if (c == '=') {
                // Padding completes the last group: one "=" after three characters, two after two.
                if (count_ < 2) return fail();
                padding_ = 1;
                phase_ = Phase::padded;
                if (count_ == 3) return completePadded();
                return;
            }
            if (Base64::values[c] & 0x80) return fail();
            group_[count_++] = Base64::values[c];
            if (count_ == 4) {
                const unsigned v = group_[0] << 18 | group_[1] << 12 | group_[2] << 6 | group_[3];
                put(static_cast<char>(v >> 16));
                put(static_cast<char>(v >> 8));
                put(static_cast<char>(v));
                count_ = 0;
            }
            return;
        case Phase::padded:
            if (padding_ == 1 && count_ == 2 && c == '=') {
                padding_ = 2;
                return completePadded();
            }
            if (c == '"' && count_ == 0) return endPayload();
            return fail();
        case Phase::tail:
            if (tail_.size() == middle.size() + 64 + suffix.size()) return fail();
            tail_.push_back(static_cast<char>(c));
            return;
        case Phase::other:
            return;
        }
    }

    // The quote that ends the payload is the first character of the text around the digest.
    void endPayload() {
        phase_ = Phase::tail;
        tail_.push_back('"');
    }

    void completePadded() {
        const unsigned c = padding_ == 1 ? group_[2] : 0;
        const unsigned v = group_[0] << 18 | group_[1] << 12 | c << 6;
        // The unused low bits must be zero, as unwrapCanonical requires.
        if ((padding_ == 2 && (v & 0xFFFF)) || (padding_ == 1 && (v & 0xFF))) return fail();
        put(static_cast<char>(v >> 16));
        if (padding_ == 1) put(static_cast<char>(v >> 8));
        count_ = 0;
    }

    void put(char byte) {
        if (out_ == end_) flush();
        *out_++ = byte;
    }
    // Hashes and keeps what was decoded since the last time.
    void flush() {
        const std::size_t decoded = static_cast<std::size_t>(out_ - start_);
        out_ = start_;
        if (decoded == 0 || phase_ == Phase::other) return;
        // Only a file that grew while it was read holds more than its size allowed for.
        if (decoded > capacity_ - keep_.size()) return fail();
        EVP_DigestUpdate(context_.get(), start_, decoded);
        keep_.append(start_, decoded);
    }
    void fail() { phase_ = Phase::other; }

public:
    // Whether the file already left the written form.
    bool strayed() const { return phase_ == Phase::other; }
    // The journal entry its beginning names, 0 for none.
    std::int64_t journal() const { return journal_; }

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context_;
    Phase phase_ = Phase::prefix;
    std::string head_;
    std::int64_t journal_ = 0;
    bool escape_ = false;
    unsigned group_[4] = {};
    std::size_t count_ = 0;
    int padding_ = 0;
    std::string& keep_;
    std::size_t capacity_;
    std::array<char, 1 << 16> scratch_{};
    char* start_ = nullptr;
    char* end_ = nullptr;
    char* out_ = nullptr;
    std::string tail_;
};

} // namespace

std::optional<std::string> readWrittenForm(int fd, const std::filesystem::path& path, std::size_t size,
                                           std::int64_t* journal) {
    std::string document;
    WrittenForm form(document, size / 4 * 3 + 3);
    // Pieces large enough for few system calls, small enough to be hashed while in the cache.
    std::vector<char> buffer(std::size_t(4) << 20);
    while (!form.strayed()) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::filesystem::filesystem_error("No se pudo leer el archivo", path,
                                                    std::error_code(errno, std::generic_category()));
        }
        if (got == 0) break;
        form.feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
    switch (form.finish()) {
    case WrittenForm::Verdict::matching:
        if (journal) *journal = form.journal();
        return document;
    case WrittenForm::Verdict::mismatching:
        throw PCError::invalid(std::string(integrityMessage));
    case WrittenForm::Verdict::other:
        break;
    }
    return std::nullopt;
}

Digest sha256(std::string_view bytes) {
    Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size())
        throw std::runtime_error("No se pudo calcular el resumen SHA-256.");
    return digest;
}

std::string hex(const Digest& digest) {
    constexpr char digits[] = "0123456789abcdef";
    std::string text(digest.size() * 2, '0');
    for (std::size_t i = 0; i < digest.size(); ++i) {
        text[2 * i] = digits[digest[i] >> 4];
        text[2 * i + 1] = digits[digest[i] & 15];
    }
    return text;
}

std::string wrap(std::string_view document, std::int64_t journal) {
    const Digest digest = sha256(document);
    const std::size_t encoded = (document.size() + 2) / 3 * 4;
    std::string out;
    // Reserved, not yet touched: only the bytes actually written cost memory.
    const std::string head = writtenHead(journal);
    out.reserve(head.size() + 2 * encoded + middle.size() + 64 + suffix.size() + simdjson::SIMDJSON_PADDING);
    out.append(head);
    Base64::append(out, {reinterpret_cast<const std::uint8_t*>(document.data()), document.size()}, true);
    out.append(middle);
    out.append(hex(digest));
    out.append(suffix);
    return out;
}

void wrapTo(std::string_view document, const std::function<void(std::string_view)>& emit,
            std::int64_t journal) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("No se pudo calcular el resumen SHA-256.");
    // Pieces of a multiple of three bytes encode exactly as the whole; each is hashed and encoded
    // while it is in the cache, and the text is written before the next one is made.
    constexpr std::size_t piece = 3 * (std::size_t(1) << 19);
    std::string text = writtenHead(journal);
    text.reserve(piece / 3 * 8 + longestHead);
    for (std::size_t at = 0; at < document.size(); at += piece) {
        const std::string_view part = document.substr(at, piece);
        EVP_DigestUpdate(context.get(), part.data(), part.size());
        Base64::append(text, {reinterpret_cast<const std::uint8_t*>(part.data()), part.size()}, true);
        emit(text);
        text.clear();
    }
    Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size())
        throw std::runtime_error("No se pudo calcular el resumen SHA-256.");
    text.append(middle);
    text.append(hex(digest));
    text.append(suffix);
    emit(text);
}

std::optional<Digest> fileSha256(const std::filesystem::path& path) {
    const int fd = AtomicFile::openRegular(path);
    if (fd < 0) return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        ::close(fd);
        throw std::runtime_error("No se pudo calcular el resumen SHA-256.");
    }
    // Pieces small enough to stay in the cache; the file is never held in memory as a whole.
    std::vector<char> buffer(std::size_t(1) << 20);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            throw std::filesystem::filesystem_error("No se pudo leer el archivo", path,
                                                    std::error_code(error, std::generic_category()));
        }
        if (got == 0) break;
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size())
        throw std::runtime_error("No se pudo calcular el resumen SHA-256.");
    return digest;
}

std::string unwrap(std::string_view envelope) {
    std::int64_t journal = 0;
    return unwrapWithJournal(envelope, journal);
}

std::string unwrapWithJournal(std::string_view envelope, std::int64_t& journal) {
    if (std::optional<std::string> document = unwrapCanonical(envelope, journal)) return std::move(*document);
    return unwrapScanned(envelope, &journal);
}

std::string unwrapJSON(std::string_view envelope) {
    simdjson::dom::parser parser;
    std::int64_t journal = 0;
    return unwrapParsed(parser.parse(envelope.data(), envelope.size()), journal);
}

} // namespace pizzacore::Envelope
