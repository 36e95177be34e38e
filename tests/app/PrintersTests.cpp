// The printer list from a real print scheduler: a private cupsd on its own socket, with queues
// added by lpadmin, and a scheduler that is not there.

#include <Velmora/Platform/Printers.hpp>
#include <support/ScopedVariable.hpp>
#include <support/TestFiles.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;

constexpr const char* cupsd = "/usr/sbin/cupsd";
constexpr const char* lpadmin = "/usr/sbin/lpadmin";

// Runs a program to its end; its exit status, or -1.
int run(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A scheduler of its own, listening only on a socket in a temporary folder; stopped when this
// goes out of scope.
class PrivateScheduler {
public:
    PrivateScheduler() {
        const fs::path root = folder_.path();
        socket_ = root / "cups.sock";
        for (const char* sub : {"spool", "cache", "state", "log"})
            fs::create_directories(root / sub);
        writeFile(root / "cupsd.conf", "Listen " + socket_.string() +
                                           "\nLogLevel warn\nBrowsing No\nWebInterface No\n"
                                           "DefaultAuthType None\n<Location />\n  Order allow,deny\n"
                                           "  Allow all\n</Location>\n<Location /admin>\n"
                                           "  Order allow,deny\n  Allow all\n</Location>\n"
                                           "<Policy default>\n  <Limit All>\n    Order deny,allow\n"
                                           "  </Limit>\n</Policy>\n");
        writeFile(root / "cups-files.conf",
                  "ServerRoot " + root.string() + "\nRequestRoot " + (root / "spool").string() +
                      "\nCacheDir " + (root / "cache").string() + "\nStateDir " + (root / "state").string() +
                      "\nErrorLog " + (root / "log" / "error_log").string() +
                      "\nFileDevice Yes\nSandboxing Relaxed\n");
        if (!fs::exists(cupsd)) return;
        std::string conf = (root / "cupsd.conf").string();
        std::string files = (root / "cups-files.conf").string();
        char* argv[] = {const_cast<char*>(cupsd),
                        const_cast<char*>("-f"),
                        const_cast<char*>("-c"),
                        conf.data(),
                        const_cast<char*>("-s"),
                        files.data(),
                        nullptr};
        if (::posix_spawn(&pid_, cupsd, nullptr, nullptr, argv, environ) != 0) {
            pid_ = -1;
            return;
        }
        for (int step = 0; step < 100 && !fs::exists(socket_); ++step)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~PrivateScheduler() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    PrivateScheduler(const PrivateScheduler&) = delete;
    PrivateScheduler& operator=(const PrivateScheduler&) = delete;

    bool running() const { return pid_ > 0 && fs::exists(socket_); }
    std::string socket() const { return socket_.string(); }

    // Adds a queue that prints into nothing.
    bool add(const std::string& name) {
        return run({lpadmin, "-h", socket(), "-p", name, "-E", "-v", "file:///dev/null"}) == 0;
    }
    bool makeDefault(const std::string& name) { return run({lpadmin, "-h", socket(), "-d", name}) == 0; }

private:
    TemporaryDirectory folder_{"velmora-cups"};
    fs::path socket_;
    pid_t pid_ = -1;
};

// Points this process's print clients at `server` while it exists, as a user's session does.
class ServerChoice {
public:
    explicit ServerChoice(const std::string& server)
        : variable_("CUPS_SERVER", server) {}

private:
    pizzacore::testing::ScopedVariable variable_;
};

TEST(Printers, ListsTheSchedulersQueuesAndItsDefault) {
    PrivateScheduler scheduler;
    if (!scheduler.running()) GTEST_SKIP() << "cupsd could not be started here";
    const ServerChoice choice(scheduler.socket());
    EXPECT_TRUE(velmora::Printers::installed().names.isEmpty());

    ASSERT_TRUE(scheduler.add("Cocina-80"));
    ASSERT_TRUE(scheduler.add("Oficina"));
    velmora::PrinterList list = velmora::Printers::installed();
    EXPECT_TRUE(list.names.contains("Cocina-80"));
    EXPECT_TRUE(list.names.contains("Oficina"));
    EXPECT_EQ(list.names.size(), 2);

    ASSERT_TRUE(scheduler.makeDefault("Oficina"));
    list = velmora::Printers::installed();
    EXPECT_EQ(list.defaultName, "Oficina");
}

TEST(Printers, AnAbsentSchedulerGivesAnEmptyListAtOnce) {
    TemporaryDirectory folder;
    const ServerChoice choice((folder.path() / "nadie.sock").string());
    const auto start = std::chrono::steady_clock::now();
    const velmora::PrinterList list = velmora::Printers::installed();
    EXPECT_TRUE(list.names.isEmpty());
    EXPECT_TRUE(list.defaultName.isEmpty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

} // namespace
