#include <Velmora/Platform/CupsJob.hpp>

#include <cups/cups.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <memory>
#include <string_view>

namespace velmora::CupsJob {

const char* const silentServer = "El sistema de impresión (CUPS) no responde.";
const char* const unreachableServer = "No se puede conectar con el sistema de impresión (CUPS).";

namespace {

using Clock = std::chrono::steady_clock;

// libcups waits this long before asking whether to go on waiting, so a raised stop flag ends a
// call within about this time.
constexpr double waitSlice = 0.2;

struct IppDelete {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Response = std::unique_ptr<ipp_t, IppDelete>;

struct DestsFree {
    int count = 0;
    void operator()(cups_dest_t* dests) const { cupsFreeDests(count, dests); }
};

// One connection to the server the environment names now, which gives up once its limits run
// out. libcups remembers the server per thread once it has been asked; forgetting it first makes
// every call follow the current CUPS_SERVER and client.conf, as the command-line tools do.
class Connection {
public:
    explicit Connection(const Limits& limits)
        : deadline_(Clock::now() + limits.patience)
        , stop_(limits.stop) {
        if (stopped()) return;
        cupsSetServer(nullptr);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                             static_cast<int>(std::max<std::chrono::milliseconds::rep>(1, left.count())),
                             nullptr);
        if (http_) httpSetTimeout(http_, waitSlice, &Connection::goOn, this);
    }
    ~Connection() {
        if (http_) httpClose(http_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    http_t* get() const { return http_; }
    // Whether a request was abandoned because the limits ran out or the stop flag was raised.
    bool gaveUp() const { return gaveUp_; }

    // Why the last request on this connection failed: the server's silence, else CUPS's words,
    // else `fallback`.
    std::string failure(const char* fallback) const {
        if (gaveUp_) return silentServer;
        // A connection that broke (the scheduler went away) has no words from CUPS, only errno's.
        if (http_ && httpError(http_) != 0) return unreachableServer;
        const char* text = cupsLastErrorString();
        // After a broken connection libcups can leave its last error at "successful".
        if (!text || !*text || cupsLastError() <= IPP_STATUS_OK_CONFLICTING) return fallback;
        return shown(text);
    }

private:
    bool stopped() const { return stop_ && stop_->load(); }

    static int goOn(http_t*, void* data) {
        auto* self = static_cast<Connection*>(data);
        if (self->stopped() || Clock::now() >= self->deadline_) {
            self->gaveUp_ = true;
            return 0;
        }
        return 1;
    }

    Clock::time_point deadline_;
    const std::atomic<bool>* stop_;
    http_t* http_ = nullptr;
    bool gaveUp_ = false;
};

std::string number(double value) {
    std::array<char, 32> buffer{};
    // Two decimals are finer than any printer's paper feed; trailing zeros are left out.
    const double rounded = std::round(value * 100) / 100;
    const auto [end, error] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), rounded, std::chars_format::fixed, 2);
    if (error != std::errc()) return "0";
    std::string text(buffer.data(), end);
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

// "Tickets/copia" → {"Tickets", "copia"}; a plain name has no instance.
std::pair<std::string, std::string> splitInstance(const std::string& printer) {
    const std::size_t slash = printer.find('/');
    if (slash == std::string::npos) return {printer, {}};
    return {printer.substr(0, slash), printer.substr(slash + 1)};
}

// The options the user gave an instance in lpoptions: what its destination holds beyond the plain
// printer's, which also carries the server's description of the printer (state, location, …) that
// is no job option.
int instanceOptions(http_t* http, const std::string& name, const std::string& instance,
                    cups_option_t** options, bool& found) {
    found = false;
    cups_dest_t* list = nullptr;
    const int count = cupsGetDests2(http, &list);
    const std::unique_ptr<cups_dest_t, DestsFree> owner(list, DestsFree{count});
    const cups_dest_t* own = cupsGetDest(name.c_str(), instance.c_str(), count, list);
    const cups_dest_t* plain = cupsGetDest(name.c_str(), nullptr, count, list);
    if (!own) return 0;
    found = true;
    int added = 0;
    for (int index = 0; index < own->num_options; ++index) {
        const cups_option_t& option = own->options[index];
        const char* base = plain ? cupsGetOption(option.name, plain->num_options, plain->options) : nullptr;
        if (base && std::string_view(base) == option.value) continue;
        added = cupsAddOption(option.name, option.value, added, options);
    }
    return added;
}

std::string printerUri(const std::string& name) {
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", name.c_str());
    return uri;
}

// Creates the job on its own connection's request, with the options given: the library's own
// cupsCreateJob first looks the printer up on the default connection, which waits for minutes
// on a server that does not answer.
int createJob(http_t* http, const std::string& name, const std::string& title, int count,
              cups_option_t* options) {
    ipp_t* request = ippNewRequest(IPP_OP_CREATE_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri(name).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
    cupsEncodeOptions2(request, count, options, IPP_TAG_OPERATION);
    cupsEncodeOptions2(request, count, options, IPP_TAG_JOB);
    const std::string resource = "/printers/" + name;
    const Response response(cupsDoRequest(http, request, resource.c_str()));
    if (!response || ippGetStatusCode(response.get()) > IPP_STATUS_OK_CONFLICTING) return 0;
    ipp_attribute_t* id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
    return id ? ippGetInteger(id, 0) : 0;
}

// A job left without its document would wait for ever in the queue; cancelling it gets a
// connection and a short wait of its own, since the one that failed may be broken.
void cancelJob(const std::string& name, int job, const Limits& limits) {
    Limits brief = limits;
    brief.patience = std::min(limits.patience, std::chrono::milliseconds(3000));
    const Connection http(brief);
    if (http.get()) cupsCancelJob2(http.get(), name.c_str(), job, 0);
}

// The operator's words for the reasons CUPS gives most for a job that ended without printing.
std::string reasonText(std::string_view keyword) {
    if (keyword == "job-canceled-by-user") return "cancelado por un usuario";
    if (keyword == "job-canceled-by-operator") return "cancelado por el administrador de impresión";
    if (keyword == "job-canceled-at-device") return "cancelado en la impresora";
    if (keyword == "aborted-by-system") return "interrumpido por el sistema de impresión";
    if (keyword == "document-format-error" || keyword == "document-unprintable-error")
        return "la impresora no ha podido procesar el documento";
    if (keyword == "job-stopped" || keyword == "printer-stopped") return "la impresora está detenida";
    return std::string(keyword);
}

// Why a job did not print: the printer's message for it, then its reasons, in CUPS's order; when
// CUPS gives neither, what became of it.
std::string jobReason(ipp_t* response, const char* fallback) {
    std::string reason;
    if (ipp_attribute_t* message = ippFindAttribute(response, "job-printer-state-message", IPP_TAG_TEXT)) {
        const char* text = ippGetString(message, 0, nullptr);
        if (text && *text) reason = text;
    }
    if (ipp_attribute_t* reasons = ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD)) {
        for (int index = 0; index < ippGetCount(reasons); ++index) {
            const char* keyword = ippGetString(reasons, index, nullptr);
            // Keywords that say where the job got to, not why it ended there.
            static constexpr std::string_view mute[] = {"none",
                                                        "processing-to-stop-point",
                                                        "job-completed-with-errors",
                                                        "job-incoming",
                                                        "job-printing",
                                                        "job-queued",
                                                        "job-hold-until-specified"};
            if (!keyword || std::find(std::begin(mute), std::end(mute), keyword) != std::end(mute)) continue;
            const std::string text = reasonText(keyword);
            if (reason.find(text) != std::string::npos) continue;
            reason += reason.empty() ? text : "; " + text;
        }
    }
    return reason.empty() ? std::string(fallback) : shown(reason);
}

// The character at `at`: its code and the length of its UTF-8 sequence, or a length of 0 when
// the bytes there are no valid UTF-8.
std::pair<char32_t, std::size_t> character(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    char32_t minimum = 0;
    char32_t code = 0;
    if (lead < 0x80) return {lead, 1};
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
        code = lead & 0x07u;
    } else {
        return {0, 0};
    }
    if (at + length > text.size()) return {0, 0};
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0u) != 0x80u) return {0, 0};
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {0, 0};
    return {code, length};
}

// Sends the job's one document and closes it. A job the server accepted and then could not
// receive whole is cancelled again and reported refused.
Submission sendDocument(const Connection& http, const std::string& name, int job, const std::string& title,
                        const char* format, std::span<const std::uint8_t> data, const Limits& limits) {
    bool sent =
        cupsStartDocument(http.get(), name.c_str(), job, title.c_str(), format, 1) == HTTP_STATUS_CONTINUE;
    // The document goes in pieces, so that a large one never needs a second copy in memory.
    constexpr std::size_t piece = 64 * 1024;
    for (std::size_t at = 0; sent && at < data.size(); at += piece) {
        const std::size_t size = std::min(piece, data.size() - at);
        sent = cupsWriteRequestData(http.get(), reinterpret_cast<const char*>(data.data() + at), size) ==
               HTTP_STATUS_CONTINUE;
    }
    // The document must be closed even after a failed write, to read the server's answer.
    const bool finished = !http.gaveUp() && cupsFinishDocument(http.get(), name.c_str()) == IPP_STATUS_OK;
    if (sent && finished) return {job, {}};
    std::string failure = http.failure("CUPS no ha recibido el documento.");
    cancelJob(name, job, limits);
    return {0, std::move(failure)};
}

} // namespace

std::string shown(const std::string& text, std::size_t limit) {
    std::string result;
    bool space = false;
    for (std::size_t at = 0; at < text.size();) {
        const auto [code, length] = character(text, at);
        at += std::max<std::size_t>(length, 1);
        // Control characters (C0, DEL and C1) could move the cursor or recolour a terminal;
        // like line breaks and tabs they separate words.
        if (length > 0 && (code <= 0x20 || (code >= 0x7F && code <= 0x9F))) {
            space = !result.empty();
            continue;
        }
        if (space) result += ' ';
        result += length == 0 ? std::string("\xEF\xBF\xBD") : text.substr(at - length, length);
        space = false;
    }
    if (result.size() <= limit) return result;
    // Cut at the start of a character, leaving room for the dots.
    std::size_t cut = limit >= 3 ? limit - 3 : 0;
    while (cut > 0 && (static_cast<unsigned char>(result[cut]) & 0xC0u) == 0x80u)
        --cut;
    return result.substr(0, cut) + std::string("...").substr(0, limit - cut);
}

std::string mediaName(double widthPoints, double heightPoints) {
    return "Custom." + number(widthPoints) + "x" + number(heightPoints);
}

Submission submit(const Request& request, std::span<const std::uint8_t> pdf, const Limits& limits) {
    const Connection http(limits);
    if (!http.get()) return {0, unreachableServer};
    const auto [name, instance] = splitInstance(request.printer);
    if (name.empty()) return {0, "No se ha elegido ninguna impresora."};

    cups_option_t* options = nullptr;
    int count = 0;
    if (!instance.empty()) {
        bool found = false;
        count = instanceOptions(http.get(), name, instance, &options, found);
        if (!found) {
            cupsFreeOptions(count, options);
            if (http.gaveUp()) return {0, silentServer};
            return {0, "CUPS no tiene la impresora " + shown(request.printer) + "."};
        }
    }
    const std::string media = mediaName(request.widthPoints, request.heightPoints);
    const std::string copies = std::to_string(std::max(1, request.copies));
    // The page size of the ticket itself, printed at its size from the paper's corner: no
    // fitting, no turning to landscape, no margins added by the filters. These win over an
    // instance's own options.
    count = cupsAddOption("media", media.c_str(), count, &options);
    count = cupsAddOption("PageSize", media.c_str(), count, &options);
    count = cupsAddOption("print-scaling", "none", count, &options);
    count = cupsAddOption("fit-to-page", "false", count, &options);
    count = cupsAddOption("orientation-requested", "3", count, &options);
    count = cupsAddOption("nopdfAutoRotate", "true", count, &options);
    count = cupsAddOption("page-left", "0", count, &options);
    count = cupsAddOption("page-right", "0", count, &options);
    count = cupsAddOption("page-top", "0", count, &options);
    count = cupsAddOption("page-bottom", "0", count, &options);
    count = cupsAddOption("copies", copies.c_str(), count, &options);

    const int job = createJob(http.get(), name, request.title, count, options);
    cupsFreeOptions(count, options);
    if (job <= 0) return {0, http.failure("CUPS no ha aceptado el trabajo.")};
    return sendDocument(http, name, job, request.title, CUPS_FORMAT_PDF, pdf, limits);
}

Submission submitRaw(const std::string& printer, const std::string& title, std::span<const std::uint8_t> data,
                     const Limits& limits) {
    const Connection http(limits);
    if (!http.get()) return {0, unreachableServer};
    const std::string name = splitInstance(printer).first;
    if (name.empty()) return {0, "No se ha elegido ninguna impresora."};
    const int job = createJob(http.get(), name, title, 0, nullptr);
    if (job <= 0) return {0, http.failure("CUPS no ha aceptado el trabajo.")};
    return sendDocument(http, name, job, title, CUPS_FORMAT_RAW, data, limits);
}

Status status(int job, const Limits& limits) {
    const Connection http(limits);
    if (!http.get()) return {State::unknown, unreachableServer};
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/jobs/%d",
                     job);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    static const char* const wanted[] = {"job-state", "job-state-reasons", "job-printer-state-message"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
    const Response response(cupsDoRequest(http.get(), request, "/"));
    if (!response) return {State::unknown, http.failure(unreachableServer)};
    const ipp_status_t code = ippGetStatusCode(response.get());
    if (code == IPP_STATUS_ERROR_NOT_FOUND || code == IPP_STATUS_ERROR_GONE)
        return {State::gone, http.failure("CUPS ya no tiene el trabajo.")};
    if (code > IPP_STATUS_OK_CONFLICTING) return {State::unknown, http.failure(unreachableServer)};
    ipp_attribute_t* attribute = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
    if (!attribute) return {State::unknown, "CUPS no ha dicho en qué estado está el trabajo."};
    switch (static_cast<ipp_jstate_t>(ippGetInteger(attribute, 0))) {
    case IPP_JSTATE_PENDING:
    case IPP_JSTATE_HELD:
    case IPP_JSTATE_PROCESSING:
        return {State::waiting, {}};
    case IPP_JSTATE_STOPPED:
        // CUPS stops a job whose filters failed; it stays so until someone intervenes.
        return {State::stopped, jobReason(response.get(), "detenido en CUPS")};
    case IPP_JSTATE_CANCELED:
        return {State::cancelled, jobReason(response.get(), "cancelado en CUPS")};
    case IPP_JSTATE_ABORTED:
        return {State::aborted, jobReason(response.get(), "interrumpido en CUPS")};
    case IPP_JSTATE_COMPLETED:
        return {State::completed, {}};
    }
    return {State::unknown, "CUPS no ha dicho en qué estado está el trabajo."};
}

Destinations destinations(const Limits& limits) {
    Destinations result;
    const Connection http(limits);
    if (!http.get()) {
        result.unreachable = true;
        return result;
    }
    cups_dest_t* list = nullptr;
    // With this connection libcups asks the server for its printers and classes and its default,
    // and adds the user's instances and default from lpoptions and the environment.
    const int count = cupsGetDests2(http.get(), &list);
    const std::unique_ptr<cups_dest_t, DestsFree> owner(list, DestsFree{count});
    result.silent = http.gaveUp();
    for (int index = 0; index < count; ++index) {
        const cups_dest_t& dest = list[index];
        if (!dest.name) continue;
        std::string name = dest.name;
        // Appended piece by piece: GCC 12 at -O3 warns of an overlap that cannot happen in
        // "/" + std::string(...).
        if (dest.instance) {
            name += '/';
            name += dest.instance;
        }
        if (std::find(result.names.begin(), result.names.end(), name) != result.names.end()) continue;
        if (dest.is_default && result.defaultName.empty()) result.defaultName = name;
        result.names.push_back(std::move(name));
    }
    // Reading an lpoptions file that defines instances can leave every destination unmarked;
    // the default is then asked for on its own (environment, lpoptions, then the server).
    if (result.defaultName.empty() && !result.names.empty() && !http.gaveUp()) {
        const char* name = cupsGetDefault2(http.get());
        if (name && std::find(result.names.begin(), result.names.end(), name) != result.names.end())
            result.defaultName = name;
        result.silent = http.gaveUp();
    }
    return result;
}

} // namespace velmora::CupsJob
