#pragma once

#include <QObject>
#include <QString>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <sys/types.h>

class QSocketNotifier;
class QTimer;

namespace pizzacore {
class CallSocketListener;
}

namespace velmora {

class AppStore;
class CallerIDModem;

// Velmora's end of the call socket (PizzaCore/Calls/CallSocket.hpp): connections are taken and
// read as they become ready, never waited for, one short line each, within a few seconds. A
// process of another user is refused by its credentials, whatever the folder's access allows.
class CallSocketServer : public QObject {
    Q_OBJECT
public:
    // How long a connection may take to send its line.
    static constexpr int requestTimeout = 3000;
    // Connections read at once; more wait in the system's queue.
    static constexpr std::size_t maxConnections = 8;

    // Listens in `folder` for processes of `user`; problem() says why it could not.
    CallSocketServer(const std::filesystem::path& folder, uid_t user, QObject* parent = nullptr);
    ~CallSocketServer() override;

    bool listening() const { return listener_ != nullptr; }
    const QString& problem() const { return problem_; }

signals:
    // A caller's number, as its telephone key.
    void callAnnounced(const QString& key);

private:
    struct Connection;
    void acceptWaiting();
    void readFrom(int descriptor);
    void finish(int descriptor, std::string_view reply = {});

    uid_t user_;
    std::unique_ptr<pizzacore::CallSocketListener> listener_;
    QSocketNotifier* accepting_ = nullptr;
    std::map<int, std::unique_ptr<Connection>> connections_;
    QString problem_;
};

// The incoming calls of both sources, the call socket and the caller-ID modem of the settings,
// handed to the controller (AppStore::receiveCall) with what the operator should know about them
// (AppStore::setCallStatus).
class IncomingCalls : public QObject {
    Q_OBJECT
public:
    // Listens on the call socket in `socketFolder` (none: no socket) and follows the modem set in
    // the controller's settings.
    IncomingCalls(AppStore& store, const std::optional<std::filesystem::path>& socketFolder,
                  QObject* parent = nullptr);
    ~IncomingCalls() override;

    // The folder of the call socket for this process's user and environment.
    static std::filesystem::path standardSocketFolder();

    CallerIDModem& modem() { return *modem_; }
    const CallSocketServer* socket() const { return socket_; }

private:
    void followSettings();
    void showStatus();

    AppStore& store_;
    CallSocketServer* socket_ = nullptr;
    CallerIDModem* modem_;
};

} // namespace velmora
