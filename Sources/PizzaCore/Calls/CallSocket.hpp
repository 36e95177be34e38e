#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace pizzacore {

// Velmora hears of incoming calls from other programs of the same user (velmora-admin llamada,
// run by a telephone system or a softphone) through a local stream socket in a folder only that
// user can enter. The caller writes one line, "llamada NÚMERO\n", and Velmora answers one line:
// "aceptada" when it takes the number, "ignorada" when the text is not a telephone number; a
// process of another user gets no answer, only the closed connection.

inline constexpr std::string_view callRequestPrefix = "llamada ";
inline constexpr std::string_view callAcceptedReply = "aceptada\n";
inline constexpr std::string_view callIgnoredReply = "ignorada\n";
// The longest request line read, its end included; a longer one is refused unread.
inline constexpr std::size_t callRequestMaxLength = 128;

// The folder of the socket: the user's runtime folder ($XDG_RUNTIME_DIR, given here when set to an
// absolute path), otherwise /tmp/velmora-UID.
std::filesystem::path callSocketFolder(const std::optional<std::string>& runtimeDirectory, uid_t user);

// The socket inside `folder`.
std::filesystem::path callSocketPath(const std::filesystem::path& folder);

// Checks that `folder` is a real folder (not a link) owned by `user` that nobody else can enter,
// creating it with that access first when it is missing and `create` holds. Throws PCError saying
// why the folder cannot be used.
void checkCallSocketFolder(const std::filesystem::path& folder, uid_t user, bool create);

// The user of the process at the other end of a connected local socket; nothing when the system
// does not say.
std::optional<uid_t> peerUser(int descriptor);

// Velmora's end: the socket bound in a checked folder and listening, non-blocking. A socket left
// by a Velmora that ended without removing it is replaced; one that another Velmora still
// listens on is not. The socket is removed when the listener goes, unless another has replaced it.
class CallSocketListener {
public:
    // Throws PCError when the folder cannot be used, another Velmora listens, or the system refuses.
    CallSocketListener(const std::filesystem::path& folder, uid_t user);
    ~CallSocketListener();
    CallSocketListener(const CallSocketListener&) = delete;
    CallSocketListener& operator=(const CallSocketListener&) = delete;

    int descriptor() const { return descriptor_; }
    const std::filesystem::path& path() const { return path_; }

    struct Caller {
        // The connection, non-blocking and closed on exec; the receiver closes it.
        int descriptor = -1;
        // Its process's user, when the system says.
        std::optional<uid_t> user;
    };
    // The next connection waiting, if any.
    std::optional<Caller> accept();

private:
    std::filesystem::path path_;
    int descriptor_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

// How an announcement went.
enum class CallNotice {
    // Velmora took the number.
    accepted,
    // Velmora did not take the text as a telephone number.
    ignored,
    // Velmora closed the connection without an answer: it refuses this user.
    refused,
    // Nobody listens on the socket: Velmora is not open for this user.
    notRunning,
    // Velmora did not answer within the time given.
    noAnswer,
};

// Announces a call from `number` to the Velmora listening on `socket`, waiting at most
// `timeoutMilliseconds` for each step. Throws PCError when the system refuses the socket itself.
CallNotice announceCall(const std::filesystem::path& socket, std::string_view number,
                        int timeoutMilliseconds);

} // namespace pizzacore
