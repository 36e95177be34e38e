#pragma once

// PDF print jobs on the CUPS server of the session (CUPS_SERVER, the user's and the system's
// client.conf, else the local scheduler), through libcups. The printer receives the ticket's
// vector PDF exactly as rendered, with the paper size of the ticket and nothing scaled, rotated
// or offset. Every call opens its own connection and may block while the server answers, so
// the application makes them away from the user-interface thread, except the quick look-ups of
// printer names.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace velmora::CupsJob {

// A PDF document for one printer.
struct Request {
    std::string printer; // CUPS destination name
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
    unknown,   // the server no longer knows the job or cannot be reached
};

// Creates the job with document format application/pdf, sends the document and closes it. A job
// the server accepted and then could not receive whole is cancelled again and reported refused.
Submission submit(const Request& request, std::span<const std::uint8_t> pdf);

// The job's state now.
State state(int job);

// Whether a destination with exactly this name exists.
bool printerExists(const std::string& name);

// The name of the server's default destination; empty when there is none.
std::string defaultPrinter();

// The CUPS name of a custom paper size in points, "Custom.226.77x720", written the same way
// whatever the process's locale.
std::string mediaName(double widthPoints, double heightPoints);

} // namespace velmora::CupsJob
