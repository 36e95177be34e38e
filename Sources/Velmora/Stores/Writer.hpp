#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace velmora {

// One background thread that runs tasks one after another, in the order they were posted. The
// controller writes the document through it, so that a save never holds up the user-interface
// thread, and lets it destroy documents it no longer needs for the same reason.
class Writer {
public:
    Writer();
    // Runs what is still queued, then stops the thread.
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Queues `task`; it runs, and is destroyed, on the writer's thread.
    void post(std::function<void()> task);
    // Blocks until every task posted so far has run.
    void drain();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> tasks_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace velmora
