#pragma once

// PDF and raw print jobs on the CUPS server of the session (CUPS_SERVER, the user's and the system's
// client.conf, else the local scheduler), through libcups. The printer receives the ticket's
// vector PDF exactly as rendered, with the paper size of the ticket and nothing scaled, rotated
// or offset.
//
// Every call opens its own connection and may wait for the server, so none of them is made on the
// user-interface thread. A scheduler can accept connections and then never answer; each call
// therefore gives up once its `Limits` run out, or as soon as their stop flag is raised, and says
// so instead of waiting the minutes libcups would. Only requests on that connection are used:
// libcups' conveniences that open the default connection behind the caller's back are avoided.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velmora::CupsJob {

// How long one call may wait for the server, and a flag another thread raises to end it at once.
struct Limits {
    std::chrono::milliseconds patience{8000};
    const std::atomic<bool>* stop = nullptr;
};

// What the operator reads when the server accepts connections but does not answer in time.
extern const char* const silentServer;
// What the operator reads when there is no server to connect to.
extern const char* const unreachableServer;

// A PDF document for one printer.
struct Request {
    std::string printer; // CUPS destination name, or "name/instance" for one of the user's instances
    std::string title;   // the job's name in the queue
    double widthPoints = 0;
    double heightPoints = 0;
    int copies = 1;
};

// The job CUPS accepted, or why it refused it.
struct Submission {
    int job = 0; // 0 when refused
    std::string failure;
};

// Where a submitted job stands.
enum class State {
    waiting,   // pending, held or processing: not finished yet (a paused queue keeps it pending)
    stopped,   // its filters failed; it will not print unless someone restarts it
    completed, // CUPS sent it to the printer
    cancelled, // cancelled by someone
    aborted,   // the printer or a filter failed
    gone,      // the server answered that it no longer has the job
    unknown,   // the server cannot be reached or does not answer
};

// A job's state and, when it will not print or cannot be told, why (CUPS's own words when it
// gives any).
struct Status {
    State state = State::unknown;
    std::string reason;
};

// The destinations the server and the user's lpoptions offer.
struct Destinations {
    std::vector<std::string> names; // "name", or "name/instance" for an instance, in CUPS's order
    std::string defaultName;        // empty when there is none
    // The server accepted the connection but did not answer in time: nothing about its printers
    // is known, and anything else that asks it (the print dialog) would wait as long.
    bool silent = false;
    // There was no server to connect to.
    bool unreachable = false;
};

// Creates the job with document format application/pdf, sends the document and closes it. An
// instance's own options (from lpoptions) go with the job, under the ticket's paper and scaling.
// A job the server accepted and then could not receive whole is cancelled again and reported
// refused.
Submission submit(const Request& request, std::span<const std::uint8_t> pdf, const Limits& limits = {});

// Creates a job with document format application/vnd.cups-raw on the plain queue `printer` (an
// instance's options are filter options, which raw bytes never meet), sends `data` and closes
// it: the printer receives exactly these bytes. Refused as submit() is.
Submission submitRaw(const std::string& printer, const std::string& title, std::span<const std::uint8_t> data,
                     const Limits& limits = {});

// The job's state now.
Status status(int job, const Limits& limits = {});

// The destinations now, with the user's default (LPDEST, PRINTER, lpoptions) or the server's.
Destinations destinations(const Limits& limits = {});

// The CUPS name of a custom paper size in points, "Custom.226.77x720", written the same way
// whatever the process's locale.
std::string mediaName(double widthPoints, double heightPoints);

// Text from the server made fit to show: control characters become spaces, invalid UTF-8 is
// replaced, and it is cut to `limit` bytes at a character boundary.
std::string shown(const std::string& text, std::size_t limit = 240);

} // namespace velmora::CupsJob
