#pragma once

// A CUPS scheduler of the test's own: configuration, spool, logs and its socket in a temporary
// folder, queues whose device is a file there. The machine's CUPS is never touched: clients of
// this process reach the private scheduler through CUPS_SERVER while it runs.

#include <support/ScopedVariable.hpp>
#include <support/TestFiles.hpp>

#include <filesystem>
#include <memory>
#include <string>

#include <sys/types.h>

namespace velmora::testing {

class PrivateCups {
public:
    // Queues made: "Tickets" (the default; PDF passed through untouched to Tickets.pdf),
    // "Pausada" (the same, stopped), "Rota" (its filter fails, so CUPS stops the job), "Cajon"
    // (a raw queue without a driver, whose backend writes the bytes it gets to Cajon.pdf) and
    // "Cerrada" (rejecting jobs). The client's lpoptions (through CUPS_SERVERROOT, read by
    // threads that first use libcups after this) add the instance "Tickets/copia" with
    // job-priority 77.
    PrivateCups();
    ~PrivateCups();
    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;

    // Why the scheduler is not running; empty when it is.
    const std::string& failure() const { return failure_; }
    // The file the queue's device writes.
    std::filesystem::path output(const std::string& queue) const;
    // The scheduler's error log, to explain a failure.
    std::string log() const;

    // Freezes the scheduler: its socket still takes connections, and nothing answers them.
    void freeze();
    // Ends the scheduler, as a crash or a stop of the service does.
    void stop();
    // Deletes a queue with lpadmin; false when that failed.
    bool remove(const std::string& queue);

private:
    void start();

    pizzacore::testing::TemporaryDirectory directory_{"velmora-cups"};
    std::unique_ptr<pizzacore::testing::ScopedVariable> server_;
    std::unique_ptr<pizzacore::testing::ScopedVariable> serverRoot_;
    pid_t pid_ = -1;
    std::string failure_;
};

// A print scheduler that takes connections and never answers: a socket nobody reads, named by
// CUPS_SERVER while this exists.
class SilentCups {
public:
    SilentCups();
    ~SilentCups();
    SilentCups(const SilentCups&) = delete;
    SilentCups& operator=(const SilentCups&) = delete;

    // Why the socket could not be made; empty when it listens.
    const std::string& failure() const { return failure_; }

private:
    pizzacore::testing::TemporaryDirectory directory_{"velmora-silent-cups"};
    std::unique_ptr<pizzacore::testing::ScopedVariable> server_;
    int socket_ = -1;
    std::string failure_;
};

} // namespace velmora::testing
