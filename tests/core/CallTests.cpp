// Caller numbers as telephone systems and modems give them, and the local socket through which
// other programs of the same user announce calls: its folder's access, a socket left behind, a
// second listener, and both ends talking.

#include <PizzaCore/PizzaCore.hpp>
#include <support/TestFiles.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace pizzacore;
using pizzacore::testing::readFile;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;
namespace fs = std::filesystem;

namespace {

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// Answers one connection on `listener` with `reply` once its request line is read; gives the line.
std::string answerOne(CallSocketListener& listener, std::string_view reply) {
    std::optional<CallSocketListener::Caller> caller;
    for (int attempt = 0; attempt < 2000 && !caller; ++attempt) {
        caller = listener.accept();
        if (!caller) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!caller) return "(nadie)";
    EXPECT_EQ(caller->user, ::geteuid());
    std::string line;
    char c = 0;
    for (int attempt = 0; attempt < 2000 && line.find('\n') == std::string::npos;) {
        const ssize_t count = ::recv(caller->descriptor, &c, 1, 0);
        if (count == 1)
            line.push_back(c);
        else if (count == 0)
            break;
        else {
            ++attempt;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    if (!reply.empty())
        static_cast<void>(::send(caller->descriptor, reply.data(), reply.size(), MSG_NOSIGNAL));
    ::close(caller->descriptor);
    return line;
}

} // namespace

TEST(CallerNumbers, AreTakenAsTheTelephoneKeyTakesThemAndGarbageIsNot) {
    EXPECT_EQ(callerNumberKey("612345678"), "612345678");
    EXPECT_EQ(callerNumberKey("+34 612 345 678"), "612345678");
    EXPECT_EQ(callerNumberKey(" 0034-612.345.678\r\n"), "612345678");
    EXPECT_EQ(callerNumberKey("(91) 123 45 67"), "911234567");
    EXPECT_EQ(callerNumberKey("00442079460958"), "442079460958");
    for (const char* garbage : {"", "   ", "anonymous", "P", "612345678x", "612 345 67é8", "123456",
                                "1234567890123456", "612345678\x1b[2J", "612;345;678"})
        EXPECT_EQ(callerNumberKey(garbage), std::nullopt) << garbage;
    // Blank around the number does not count; a line longer than any number is written does,
    // even with a valid key inside.
    EXPECT_EQ(callerNumberKey("612 345 678" + std::string(100, ' ')), "612345678");
    EXPECT_EQ(callerNumberKey("6   1   2   3   4   5   6   7   8   9   0   1   2   3"), std::nullopt);

    EXPECT_EQ(groupedPhone("612345678"), "612 345 678");
    EXPECT_EQ(groupedPhone("9112345"), "911 234 5");
    EXPECT_EQ(groupedPhone(""), "");
}

TEST(CallerNumbers, ModemLinesGiveTheNumberOfEachRingAndNothingElse) {
    EXPECT_EQ(readModemLine("RING").kind, ModemLine::Kind::other);
    EXPECT_EQ(readModemLine("DATE = 0307").kind, ModemLine::Kind::other);
    EXPECT_EQ(readModemLine("TIME=1405").kind, ModemLine::Kind::other);
    EXPECT_EQ(readModemLine("NAME = MARTA SOLER").kind, ModemLine::Kind::other);
    EXPECT_EQ(readModemLine("AT+VCID=1").kind, ModemLine::Kind::other);
    EXPECT_EQ(readModemLine("OK").kind, ModemLine::Kind::other);
    EXPECT_EQ(readModemLine("xNMBR=612345678").kind, ModemLine::Kind::other);
    EXPECT_EQ(readModemLine("NMBR").kind, ModemLine::Kind::other);

    for (const char* line : {"NMBR=612345678", "NMBR = 612345678\r", "  NMBR =612 345 678  "}) {
        const ModemLine read = readModemLine(line);
        EXPECT_EQ(read.kind, ModemLine::Kind::number) << line;
        EXPECT_EQ(read.key, "612345678") << line;
    }
    EXPECT_EQ(readModemLine("NMBR=P").kind, ModemLine::Kind::withheld);
    EXPECT_EQ(readModemLine("NMBR = O").kind, ModemLine::Kind::withheld);
    EXPECT_EQ(readModemLine("NMBR=\x01\x02\xff").kind, ModemLine::Kind::malformed);
    EXPECT_EQ(readModemLine("NMBR=").kind, ModemLine::Kind::malformed);
    EXPECT_EQ(readModemLine("NMBR=" + std::string(300, '6')).kind, ModemLine::Kind::malformed);
}

TEST(CallSocketFolder, IsTheRuntimeFolderOrAPrivateOneOfTheUsersOwnUnderTmp) {
    EXPECT_EQ(callSocketFolder(std::string("/run/user/1000"), 1000), fs::path("/run/user/1000"));
    EXPECT_EQ(callSocketFolder(std::nullopt, 1000), fs::path("/tmp/velmora-1000"));
    // A relative or empty value is not a runtime folder.
    EXPECT_EQ(callSocketFolder(std::string(""), 1000), fs::path("/tmp/velmora-1000"));
    EXPECT_EQ(callSocketFolder(std::string("run"), 1000), fs::path("/tmp/velmora-1000"));
    EXPECT_EQ(callSocketPath("/run/user/1000"), fs::path("/run/user/1000/velmora-llamadas"));

    const TemporaryDirectory temporary("velmora-calls");
    const fs::path made = temporary.path() / "velmora-0";
    // Not made unless asked; made for its owner only.
    EXPECT_THROW(checkCallSocketFolder(made, ::geteuid(), false), PCError);
    checkCallSocketFolder(made, ::geteuid(), true);
    EXPECT_EQ(modeOf(made), 0700u);
    checkCallSocketFolder(made, ::geteuid(), true);

    // Open to others, owned by someone else, or a link: refused, and left as it is.
    ::chmod(made.c_str(), 0755);
    try {
        checkCallSocketFolder(made, ::geteuid(), true);
        ADD_FAILURE() << "a folder open to others was accepted";
    } catch (const PCError& error) {
        EXPECT_NE(error.message().find("abierta a otros usuarios"), std::string::npos) << error.message();
    }
    EXPECT_EQ(modeOf(made), 0755u);
    ::chmod(made.c_str(), 0700);
    try {
        checkCallSocketFolder(made, ::geteuid() + 1, true);
        ADD_FAILURE() << "another user's folder was accepted";
    } catch (const PCError& error) {
        EXPECT_NE(error.message().find("pertenece a otro usuario"), std::string::npos) << error.message();
    }
    const fs::path link = temporary.path() / "enlace";
    fs::create_directory_symlink(made, link);
    EXPECT_THROW(checkCallSocketFolder(link, ::geteuid(), true), PCError);
}

TEST(CallSocket, AnnouncesToTheListenerAndSaysWhenNobodyListens) {
    const TemporaryDirectory folder("velmora-calls");
    const fs::path socket = callSocketPath(folder.path());
    EXPECT_EQ(announceCall(socket, "612345678", 2000), CallNotice::notRunning);

    {
        CallSocketListener listener(folder.path(), ::geteuid());
        EXPECT_EQ(listener.path(), socket);
        EXPECT_EQ(modeOf(socket) & 0777, 0600u);

        std::string line;
        std::thread velmora([&] { line = answerOne(listener, callAcceptedReply); });
        EXPECT_EQ(announceCall(socket, "+34 612 345 678", 5000), CallNotice::accepted);
        velmora.join();
        EXPECT_EQ(line, "llamada +34 612 345 678\n");

        velmora = std::thread([&] { line = answerOne(listener, callIgnoredReply); });
        EXPECT_EQ(announceCall(socket, "612345678", 5000), CallNotice::ignored);
        velmora.join();

        // Closed without a word: what a process of another user gets.
        velmora = std::thread([&] { line = answerOne(listener, {}); });
        EXPECT_EQ(announceCall(socket, "612345678", 5000), CallNotice::refused);
        velmora.join();

        // Queued but never answered.
        EXPECT_EQ(announceCall(socket, "612345678", 200), CallNotice::noAnswer);

        // One listener per user: a second Velmora leaves the first one's socket alone.
        try {
            CallSocketListener second(folder.path(), ::geteuid());
            ADD_FAILURE() << "a second listener took the socket";
        } catch (const PCError& error) {
            EXPECT_EQ(error.message(), "Otra ventana de Velmora ya recibe los avisos de llamadas.");
        }
        ASSERT_TRUE(fs::exists(socket));
    }
    // The listener removes its socket as it goes.
    EXPECT_FALSE(fs::exists(socket));
}

TEST(CallSocket, ASocketLeftByAVelmoraThatEndedIsReplaced) {
    const TemporaryDirectory folder("velmora-calls");
    const fs::path socket = callSocketPath(folder.path());
    // Bound and closed without being removed, as after a crash.
    const int left = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", socket.c_str());
    ASSERT_EQ(::bind(left, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(left);
    ASSERT_TRUE(fs::exists(socket));
    EXPECT_EQ(announceCall(socket, "612345678", 2000), CallNotice::notRunning);

    CallSocketListener listener(folder.path(), ::geteuid());
    std::thread velmora([&] { answerOne(listener, callAcceptedReply); });
    EXPECT_EQ(announceCall(socket, "612345678", 5000), CallNotice::accepted);
    velmora.join();

    // Something else under the socket's name is never removed.
    const TemporaryDirectory other("velmora-calls");
    writeFile(callSocketPath(other.path()), "datos");
    EXPECT_THROW(CallSocketListener(other.path(), ::geteuid()), PCError);
    EXPECT_EQ(readFile(callSocketPath(other.path())), "datos");
}

TEST(CallSocket, ThePeersUserIsTheOneThatConnected) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    EXPECT_EQ(peerUser(pair[0]), ::geteuid());
    ::close(pair[0]);
    ::close(pair[1]);
    EXPECT_EQ(peerUser(-1), std::nullopt);
}

TEST(CallSocket, TheModemDeviceIsASettingAbsentByDefaultThatRoundTrips) {
    EXPECT_EQ(toJSON(Settings()).find("callerIDDevice"), std::string::npos);
    Settings chosen;
    chosen.callerIDDevice = "/dev/ttyACM0";
    const std::string text = toJSON(chosen);
    EXPECT_NE(text.find(R"("callerIDDevice":"\/dev\/ttyACM0")"), std::string::npos) << text;
    EXPECT_EQ(fromJSON<Settings>(text), chosen);
}
