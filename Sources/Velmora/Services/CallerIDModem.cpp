#include <Velmora/Services/CallerIDModem.hpp>

#include <PizzaCore/Calls/CallerNumber.hpp>

#include <QSerialPort>
#include <QTimer>
#include <QtDebug>

namespace velmora {

namespace {

// A line longer than this is not a modem's: it is dropped unread.
constexpr qsizetype longestLine = 256;

QString retrying(int interval) {
    if (interval < 2000) return QStringLiteral(" Se vuelve a intentar cada segundo.");
    return QStringLiteral(" Se vuelve a intentar cada %1 segundos.").arg(interval / 1000);
}

// Why the device could not be opened, in the operator's words.
QString openingReason(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("no existe (¿está conectado?)");
    case QSerialPort::PermissionError:
        return QStringLiteral("sin permiso o en uso por otro programa; el usuario debe estar en el grupo "
                              "«dialout»");
    default:
        return QStringLiteral("el sistema no lo deja abrir");
    }
}

} // namespace

CallerIDModem::CallerIDModem(QObject* parent)
    : QObject(parent)
    , retry_(new QTimer(this)) {
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &CallerIDModem::open);
}

CallerIDModem::~CallerIDModem() = default;

void CallerIDModem::setDevice(const std::optional<QString>& device) {
    if (device == device_) return;
    device_ = device;
    close();
    retry_->stop();
    setStatus(QString());
    if (device_) open();
}

bool CallerIDModem::isOpen() const {
    return port_ && port_->isOpen();
}

void CallerIDModem::open() {
    close();
    if (!device_) return;
    port_ = new QSerialPort(this);
    port_->setPortName(*device_);
    port_->setBaudRate(QSerialPort::Baud115200);
    port_->setDataBits(QSerialPort::Data8);
    port_->setParity(QSerialPort::NoParity);
    port_->setStopBits(QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    if (!port_->open(QIODevice::ReadWrite)) {
        const QString reason = openingReason(port_->error());
        const QString text =
            QStringLiteral("No se puede abrir el módem de llamadas %1: %2.").arg(*device_, reason) +
            retrying(retryInterval_);
        if (text != status_) qWarning().noquote() << text;
        close();
        setStatus(text);
        retry_->start(retryInterval_);
        return;
    }
    connect(port_, &QSerialPort::readyRead, this, &CallerIDModem::read);
    connect(port_, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError) return;
        lost(port_ ? port_->errorString() : QString());
    });
    // The modem says each caller's number between the first two rings from now on.
    port_->write("AT+VCID=1\r");
    if (!status_.isEmpty()) qWarning().noquote() << "Módem de llamadas abierto de nuevo:" << *device_;
    setStatus(QString());
}

void CallerIDModem::close() {
    pending_.clear();
    if (!port_) return;
    // Deleted later: close() may run inside the port's own signal.
    port_->disconnect(this);
    port_->close();
    port_->deleteLater();
    port_ = nullptr;
}

void CallerIDModem::lost(const QString& why) {
    if (!device_) return;
    qWarning().noquote() << "El módem de llamadas" << *device_ << "ha dejado de responder:" << why;
    close();
    setStatus(QStringLiteral("El módem de llamadas %1 se ha desconectado.").arg(*device_) +
              retrying(retryInterval_));
    retry_->start(retryInterval_);
}

void CallerIDModem::read() {
    if (!port_) return;
    pending_ += port_->readAll();
    for (;;) {
        qsizetype end = -1;
        for (qsizetype index = 0; index < pending_.size(); ++index)
            if (pending_[index] == '\r' || pending_[index] == '\n') {
                end = index;
                break;
            }
        if (end < 0) break;
        const QByteArray line = pending_.left(end);
        pending_.remove(0, end + 1);
        if (line.isEmpty()) continue;
        const pizzacore::ModemLine read =
            pizzacore::readModemLine(std::string_view(line.constData(), line.size()));
        switch (read.kind) {
        case pizzacore::ModemLine::Kind::number:
            emit callAnnounced(QString::fromStdString(read.key));
            break;
        case pizzacore::ModemLine::Kind::withheld:
            qInfo().noquote() << "Llamada con número oculto: no se busca ficha.";
            break;
        case pizzacore::ModemLine::Kind::malformed:
            qWarning().noquote() << "El módem de llamadas dio un número que no es un teléfono; se ignora.";
            break;
        case pizzacore::ModemLine::Kind::other:
            break;
        }
        if (!port_) return;
    }
    if (pending_.size() > longestLine) {
        qWarning().noquote() << "El módem de llamadas envió una línea demasiado larga; se ignora.";
        pending_.clear();
    }
}

void CallerIDModem::setStatus(const QString& status) {
    if (status == status_) return;
    status_ = status;
    emit statusChanged();
}

} // namespace velmora
