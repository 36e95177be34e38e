#include "PrivateCups.hpp"

#include <Velmora/Services/CupsJob.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmora::testing {

namespace fs = std::filesystem;
using pizzacore::testing::writeFile;

namespace {

std::string ppd(const std::string& filter) {
    return R"ppd(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "TICKETS.PPD"
*Manufacturer: "Velmora"
*Product: "(Tickets)"
*ModelName: "Velmora Tickets"
*ShortNickName: "Velmora Tickets"
*NickName: "Velmora Tickets"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*DefaultColorSpace: Gray
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*cupsVersion: 2.4
*cupsFilter: "application/pdf 0 )ppd" +
           filter + R"ppd("
*VariablePaperSize: True
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageSize
*DefaultPageRegion: A4
*PageRegion A4/A4: "<</PageSize[595 842]>>setpagedevice"
*DefaultImageableArea: A4
*ImageableArea A4/A4: "0 0 595 842"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
)ppd";
}

std::string findCupsd() {
    for (const char* candidate : {"/usr/sbin/cupsd", "/usr/local/sbin/cupsd", "/sbin/cupsd"})
        if (::access(candidate, X_OK) == 0) return candidate;
    return {};
}

} // namespace

PrivateCups::PrivateCups() {
    start();
}

fs::path PrivateCups::output(const std::string& queue) const {
    return directory_.path() / (queue + ".pdf");
}

void PrivateCups::start() {
    const std::string cupsd = findCupsd();
    if (cupsd.empty()) {
        failure_ = "no cupsd program (package cups-daemon)";
        return;
    }
    const fs::path root = directory_.path();
    // Run as root, the scheduler hands the spool to the "lp" account for its filters.
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    for (const char* folder : {"etc/ppd", "spool/tmp", "cache", "state", "log"})
        fs::create_directories(root / folder);
    const std::string r = root.string();
    writeFile(root / "etc/cups-files.conf",
              "ServerRoot " + r + "/etc\nRequestRoot " + r + "/spool\nTempDir " + r +
                  "/spool/tmp\nCacheDir " + r + "/cache\nStateDir " + r + "/state\nErrorLog " + r +
                  "/log/error_log\nAccessLog " + r + "/log/access_log\nPageLog " + r +
                  "/log/page_log\nFileDevice Yes\n");
    writeFile(root / "etc/cupsd.conf", "Listen " + r +
                                           "/cups.sock\nLogLevel info\nBrowsing No\nWebInterface No\n"
                                           "DefaultAuthType None\nPreserveJobHistory Yes\n"
                                           "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n");
    writeFile(root / "etc/ppd/Tickets.ppd", ppd("gziptoany"));
    writeFile(root / "etc/ppd/Pausada.ppd", ppd("gziptoany"));
    writeFile(root / "etc/ppd/Rota.ppd", ppd("/bin/false"));
    writeFile(root / "etc/printers.conf",
              "<DefaultPrinter Tickets>\nDeviceURI file://" + output("Tickets").string() +
                  "\nState Idle\nAccepting Yes\nShared No\n</DefaultPrinter>\n"
                  "<Printer Pausada>\nDeviceURI file://" +
                  output("Pausada").string() +
                  "\nState Stopped\nAccepting Yes\nShared No\n</Printer>\n"
                  "<Printer Rota>\nDeviceURI file://" +
                  output("Rota").string() +
                  "\nState Idle\nAccepting Yes\nShared No\nErrorPolicy abort-job\n</Printer>\n");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = r + "/log/cupsd.out";
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const std::string config = r + "/etc/cupsd.conf";
    const std::string files = r + "/etc/cups-files.conf";
    const char* argv[] = {cupsd.c_str(), "-f", "-c", config.c_str(), "-s", files.c_str(), nullptr};
    const int spawned =
        ::posix_spawn(&pid_, cupsd.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        failure_ = "cupsd could not be started";
        return;
    }
    server_ = std::make_unique<pizzacore::testing::ScopedVariable>("CUPS_SERVER", r + "/cups.sock");

    // Ready once it answers for the default queue.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            failure_ = "cupsd exited at once: " + pizzacore::testing::readFile(log) +
                       pizzacore::testing::readFile(root / "log/error_log");
            return;
        }
        if (fs::exists(root / "cups.sock") && CupsJob::printerExists("Tickets")) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    failure_ = "cupsd did not answer within 20 s: " + pizzacore::testing::readFile(log);
}

PrivateCups::~PrivateCups() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

} // namespace velmora::testing
