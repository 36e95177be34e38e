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
    // "Pausada" (the same, stopped), and "Rota" (its filter fails, so CUPS stops the job).
    PrivateCups();
    ~PrivateCups();
    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;

    // Why the scheduler is not running; empty when it is.
    const std::string& failure() const { return failure_; }
    // The file the queue's device writes.
    std::filesystem::path output(const std::string& queue) const;

private:
    void start();

    pizzacore::testing::TemporaryDirectory directory_{"velmora-cups"};
    std::unique_ptr<pizzacore::testing::ScopedVariable> server_;
    pid_t pid_ = -1;
    std::string failure_;
};

} // namespace velmora::testing
