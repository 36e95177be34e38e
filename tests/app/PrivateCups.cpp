#include "PrivateCups.hpp"

#include <Velmora/Platform/CupsJob.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
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

std::string findProgram(const char* name) {
    for (const char* folder : {"/usr/sbin/", "/usr/local/sbin/", "/sbin/"}) {
        const std::string candidate = std::string(folder) + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
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
    const std::string cupsd = findProgram("cupsd");
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
    // The system's filters and helpers, with one backend of the test's own: "capture" writes the
    // job as the printer would receive it to the file its URI names. A file: device is written by
    // the scheduler from the filters' output, and a raw job has no filters to write it.
    const fs::path serverBin = root / "bin";
    fs::create_directories(serverBin / "backend");
    for (const fs::directory_entry& entry : fs::directory_iterator("/usr/lib/cups"))
        if (entry.path().filename() != "backend")
            fs::create_directory_symlink(entry.path(), serverBin / entry.path().filename());
    writeFile(serverBin / "backend/capture",
              "#!/bin/sh\n"
              "[ $# -eq 0 ] && { echo 'direct capture \"Unknown\" \"Captura\"'; exit 0; }\n"
              "out=\"${DEVICE_URI#capture://}\"\n"
              "if [ $# -ge 6 ]; then cat \"$6\" > \"$out.part\"; else cat > \"$out.part\"; fi\n"
              "mv \"$out.part\" \"$out\"\n");
    // Run as root (as owner only), as a backend that writes where the scheduler's account may not.
    fs::permissions(serverBin / "backend/capture", fs::perms::owner_all);
    writeFile(root / "etc/cups-files.conf",
              "ServerBin " + serverBin.string() + "\nServerRoot " + r + "/etc\nRequestRoot " + r +
                  "/spool\nTempDir " + r + "/spool/tmp\nCacheDir " + r + "/cache\nStateDir " + r +
                  "/state\nErrorLog " + r + "/log/error_log\nAccessLog " + r + "/log/access_log\nPageLog " +
                  r + "/log/page_log\nFileDevice Yes\n");
    writeFile(root / "etc/cupsd.conf", "Listen " + r +
                                           "/cups.sock\nLogLevel info\nBrowsing No\nWebInterface No\n"
                                           "DefaultAuthType None\nPreserveJobHistory Yes\n"
                                           "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n");
    writeFile(root / "etc/lpoptions", "Dest Tickets/copia job-priority=77\n");
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
                  "\nState Idle\nAccepting Yes\nShared No\nErrorPolicy abort-job\n</Printer>\n"
                  "<Printer Cajon>\nDeviceURI capture://" +
                  output("Cajon").string() +
                  "\nState Idle\nAccepting Yes\nShared No\n</Printer>\n"
                  "<Printer Cerrada>\nDeviceURI file://" +
                  output("Cerrada").string() + "\nState Idle\nAccepting No\nShared No\n</Printer>\n");

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
    serverRoot_ = std::make_unique<pizzacore::testing::ScopedVariable>("CUPS_SERVERROOT", r + "/etc");

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
        if (fs::exists(root / "cups.sock")) {
            const auto names = CupsJob::destinations().names;
            if (std::find(names.begin(), names.end(), "Tickets") != names.end()) return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    failure_ = "cupsd did not answer within 20 s: " + pizzacore::testing::readFile(log);
}

PrivateCups::~PrivateCups() {
    stop();
}

std::string PrivateCups::log() const {
    return pizzacore::testing::readFile(directory_.path() / "log/error_log") +
           pizzacore::testing::readFile(directory_.path() / "log/access_log");
}

void PrivateCups::freeze() {
    if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void PrivateCups::stop() {
    if (pid_ <= 0) return;
    // A frozen scheduler must run again to take its signal.
    ::kill(pid_, SIGCONT);
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

bool PrivateCups::remove(const std::string& queue) {
    const std::string lpadmin = findProgram("lpadmin");
    if (lpadmin.empty() || pid_ <= 0) return false;
    const std::string socket = (directory_.path() / "cups.sock").string();
    const char* argv[] = {lpadmin.c_str(), "-h", socket.c_str(), "-x", queue.c_str(), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, lpadmin.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return false;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

SilentCups::SilentCups() {
    const std::string path = (directory_.path() / "cups.sock").string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        failure_ = "socket path too long";
        return;
    }
    path.copy(address.sun_path, path.size());
    socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0 || ::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket_, 64) != 0) {
        failure_ = "no listening socket";
        return;
    }
    server_ = std::make_unique<pizzacore::testing::ScopedVariable>("CUPS_SERVER", path);
}

SilentCups::~SilentCups() {
    server_.reset();
    if (socket_ >= 0) ::close(socket_);
}

} // namespace velmora::testing
