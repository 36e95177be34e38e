#include <Velmora/Services/IncomingCalls.hpp>

#include <Velmora/Services/CallerIDModem.hpp>
#include <Velmora/Stores/AppStore.hpp>

#include <PizzaCore/Calls/CallSocket.hpp>
#include <PizzaCore/Calls/CallerNumber.hpp>
#include <PizzaCore/Foundation/PCError.hpp>

#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <QtDebug>

#include <cerrno>
#include <cstdlib>

#include <sys/socket.h>
#include <unistd.h>

namespace velmora {

struct CallSocketServer::Connection {
    QSocketNotifier* notifier = nullptr;
    QTimer* deadline = nullptr;
    std::string received;
};

CallSocketServer::CallSocketServer(const std::filesystem::path& folder, uid_t user, QObject* parent)
    : QObject(parent)
    , user_(user) {
    try {
        listener_ = std::make_unique<pizzacore::CallSocketListener>(folder, user);
    } catch (const pizzacore::PCError& error) {
        problem_ =
            QStringLiteral("No se reciben avisos de llamadas: ") + QString::fromStdString(error.message());
        qWarning().noquote() << problem_;
        return;
    }
    accepting_ = new QSocketNotifier(listener_->descriptor(), QSocketNotifier::Read, this);
    connect(accepting_, &QSocketNotifier::activated, this, &CallSocketServer::acceptWaiting);
}

CallSocketServer::~CallSocketServer() {
    // Every notifier goes before its descriptor is closed.
    delete accepting_;
    for (auto& [descriptor, connection] : connections_) {
        delete connection->notifier;
        delete connection->deadline;
        ::close(descriptor);
    }
}

void CallSocketServer::acceptWaiting() {
    while (connections_.size() < maxConnections) {
        const std::optional<pizzacore::CallSocketListener::Caller> caller = listener_->accept();
        if (!caller) return;
        if (caller->user != user_) {
            qWarning().noquote() << "Aviso de llamada rechazado: viene de otro usuario"
                                 << (caller->user ? QString::number(*caller->user)
                                                  : QStringLiteral("(desconocido)"));
            ::close(caller->descriptor);
            continue;
        }
        const int descriptor = caller->descriptor;
        auto connection = std::make_unique<Connection>();
        connection->notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
        connect(connection->notifier, &QSocketNotifier::activated, this,
                [this, descriptor] { readFrom(descriptor); });
        connection->deadline = new QTimer(this);
        connection->deadline->setSingleShot(true);
        connect(connection->deadline, &QTimer::timeout, this, [this, descriptor] {
            qWarning().noquote() << "Aviso de llamada sin terminar a tiempo; se cierra.";
            finish(descriptor);
        });
        connection->deadline->start(requestTimeout);
        connections_.emplace(descriptor, std::move(connection));
    }
    // The rest wait in the queue until a connection ends.
    accepting_->setEnabled(false);
}

void CallSocketServer::readFrom(int descriptor) {
    const auto found = connections_.find(descriptor);
    if (found == connections_.end()) return;
    Connection& connection = *found->second;
    char buffer[pizzacore::callRequestMaxLength];
    const ssize_t count = ::recv(descriptor, buffer, sizeof(buffer), 0);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (count <= 0) {
        finish(descriptor);
        return;
    }
    connection.received.append(buffer, static_cast<std::size_t>(count));
    const std::size_t end = connection.received.find('\n');
    if (end == std::string::npos) {
        if (connection.received.size() >= pizzacore::callRequestMaxLength) {
            qWarning().noquote() << "Aviso de llamada demasiado largo; se ignora.";
            finish(descriptor, pizzacore::callIgnoredReply);
        }
        return;
    }
    const std::string line = connection.received.substr(0, end);
    std::optional<std::string> key;
    if (line.starts_with(pizzacore::callRequestPrefix))
        key = pizzacore::callerNumberKey(std::string_view(line).substr(pizzacore::callRequestPrefix.size()));
    if (!key) {
        qWarning().noquote() << "Aviso de llamada sin un número de teléfono válido; se ignora.";
        finish(descriptor, pizzacore::callIgnoredReply);
        return;
    }
    finish(descriptor, pizzacore::callAcceptedReply);
    emit callAnnounced(QString::fromStdString(*key));
}

void CallSocketServer::finish(int descriptor, std::string_view reply) {
    const auto found = connections_.find(descriptor);
    if (found == connections_.end()) return;
    // A few bytes always fit in a new connection's buffer; a caller gone meanwhile misses them.
    if (!reply.empty()) static_cast<void>(::send(descriptor, reply.data(), reply.size(), MSG_NOSIGNAL));
    found->second->notifier->setEnabled(false);
    found->second->notifier->deleteLater();
    found->second->deadline->stop();
    found->second->deadline->deleteLater();
    connections_.erase(found);
    ::close(descriptor);
    if (accepting_) accepting_->setEnabled(true);
}

IncomingCalls::IncomingCalls(AppStore& store, const std::optional<std::filesystem::path>& socketFolder,
                             QObject* parent)
    : QObject(parent)
    , store_(store)
    , modem_(new CallerIDModem(this)) {
    if (socketFolder) {
        socket_ = new CallSocketServer(*socketFolder, ::geteuid(), this);
        connect(socket_, &CallSocketServer::callAnnounced, this,
                [this](const QString& key) { store_.receiveCall(key.toStdString()); });
    }
    connect(modem_, &CallerIDModem::callAnnounced, this,
            [this](const QString& key) { store_.receiveCall(key.toStdString()); });
    connect(modem_, &CallerIDModem::statusChanged, this, &IncomingCalls::showStatus);
    connect(&store_, &AppStore::dbChanged, this, &IncomingCalls::followSettings);
    connect(&store_, &AppStore::openingChanged, this, &IncomingCalls::followSettings);
    followSettings();
    showStatus();
}

IncomingCalls::~IncomingCalls() = default;

std::filesystem::path IncomingCalls::standardSocketFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return pizzacore::callSocketFolder(runtime ? std::optional<std::string>(runtime) : std::nullopt,
                                       ::geteuid());
}

void IncomingCalls::followSettings() {
    // Nothing is read from the modem before the data, and its settings, are open.
    if (store_.opening() || store_.fatal()) {
        modem_->setDevice(std::nullopt);
        return;
    }
    const std::optional<std::string>& device = store_.db().settings.callerIDDevice;
    const QString path = device ? QString::fromStdString(*device).trimmed() : QString();
    modem_->setDevice(path.isEmpty() ? std::nullopt : std::optional<QString>(path));
}

void IncomingCalls::showStatus() {
    QStringList problems;
    if (socket_ && !socket_->problem().isEmpty()) problems << socket_->problem();
    if (!modem_->status().isEmpty()) problems << modem_->status();
    store_.setCallStatus(problems.join(QLatin1Char('\n')));
}

} // namespace velmora
