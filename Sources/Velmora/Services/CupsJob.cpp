#include <Velmora/Services/CupsJob.hpp>

#include <cups/cups.h>

#include <array>
#include <charconv>
#include <cmath>
#include <memory>

namespace velmora::CupsJob {

namespace {

// How long one request may wait for the server before it counts as unreachable.
constexpr int timeoutMilliseconds = 15'000;

struct HttpClose {
    void operator()(http_t* http) const { httpClose(http); }
};
using Connection = std::unique_ptr<http_t, HttpClose>;

struct IppDelete {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Response = std::unique_ptr<ipp_t, IppDelete>;

// A connection to the server the environment names now. libcups remembers the server per thread
// once it has been asked; forgetting it first makes every job follow the current CUPS_SERVER and
// client.conf, as the command-line tools do.
Connection connect() {
    cupsSetServer(nullptr);
    return Connection(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                   timeoutMilliseconds, nullptr));
}

std::string lastError(const char* fallback) {
    const char* text = cupsLastErrorString();
    return text && *text ? std::string(text) : std::string(fallback);
}

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

} // namespace

std::string mediaName(double widthPoints, double heightPoints) {
    return "Custom." + number(widthPoints) + "x" + number(heightPoints);
}

Submission submit(const Request& request, std::span<const std::uint8_t> pdf) {
    Connection http = connect();
    if (!http) return {0, "No se puede conectar con el sistema de impresión (CUPS)."};

    cups_option_t* options = nullptr;
    int count = 0;
    const std::string media = mediaName(request.widthPoints, request.heightPoints);
    const std::string copies = std::to_string(std::max(1, request.copies));
    // The page size of the ticket itself, printed at its size from the paper's corner: no
    // fitting, no turning to landscape, no margins added by the filters.
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

    const int job = cupsCreateJob(http.get(), request.printer.c_str(), request.title.c_str(), count, options);
    cupsFreeOptions(count, options);
    if (job <= 0) return {0, lastError("CUPS no ha aceptado el trabajo.")};

    bool sent = cupsStartDocument(http.get(), request.printer.c_str(), job, request.title.c_str(),
                                  CUPS_FORMAT_PDF, 1) == HTTP_STATUS_CONTINUE;
    // The document goes in pieces, so that a large one never needs a second copy in memory.
    constexpr std::size_t piece = 64 * 1024;
    for (std::size_t at = 0; sent && at < pdf.size(); at += piece) {
        const std::size_t size = std::min(piece, pdf.size() - at);
        sent = cupsWriteRequestData(http.get(), reinterpret_cast<const char*>(pdf.data() + at), size) ==
               HTTP_STATUS_CONTINUE;
    }
    // The document must be closed even after a failed write, to read the server's answer.
    const bool finished = cupsFinishDocument(http.get(), request.printer.c_str()) == IPP_STATUS_OK;
    if (sent && finished) return {job, {}};
    std::string failure = lastError("CUPS no ha recibido el documento.");
    // A job left without its document would wait for ever in the queue.
    cupsCancelJob2(http.get(), request.printer.c_str(), job, 0);
    return {0, std::move(failure)};
}

State state(int job) {
    Connection http = connect();
    if (!http) return State::unknown;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/jobs/%d",
                     job);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-state");
    const Response response(cupsDoRequest(http.get(), request, "/"));
    if (!response || ippGetStatusCode(response.get()) > IPP_STATUS_OK_CONFLICTING) return State::unknown;
    ipp_attribute_t* attribute = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
    if (!attribute) return State::unknown;
    switch (static_cast<ipp_jstate_t>(ippGetInteger(attribute, 0))) {
    case IPP_JSTATE_PENDING:
    case IPP_JSTATE_HELD:
    case IPP_JSTATE_PROCESSING:
        return State::waiting;
    case IPP_JSTATE_STOPPED:
        // CUPS stops a job whose filters failed; it stays so until someone intervenes.
        return State::stopped;
    case IPP_JSTATE_CANCELED:
        return State::cancelled;
    case IPP_JSTATE_ABORTED:
        return State::aborted;
    case IPP_JSTATE_COMPLETED:
        return State::completed;
    }
    return State::unknown;
}

bool printerExists(const std::string& name) {
    if (name.empty()) return false;
    Connection http = connect();
    if (!http) return false;
    cups_dest_t* dest = cupsGetNamedDest(http.get(), name.c_str(), nullptr);
    const bool exists = dest != nullptr;
    cupsFreeDests(dest ? 1 : 0, dest);
    return exists;
}

std::string defaultPrinter() {
    Connection http = connect();
    if (!http) return {};
    // With a null name, the user's or the server's default destination.
    cups_dest_t* dest = cupsGetNamedDest(http.get(), nullptr, nullptr);
    std::string name = dest && dest->name ? dest->name : "";
    cupsFreeDests(dest ? 1 : 0, dest);
    return name;
}

} // namespace velmora::CupsJob
