#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

class QSerialPort;
class QTimer;

namespace velmora {

// A caller-ID modem on a serial device: opened without waiting, set up for caller ID with
// AT+VCID=1, and read as it writes; each ring's NMBR line with a number announces a call. A
// withheld number ("P", "O") and every other line are passed over. A device that cannot be opened
// or that disappears is said in status() and tried again every retryInterval(), for as long as it
// is set; nothing here waits on the device.
class CallerIDModem : public QObject {
    Q_OBJECT
public:
    static constexpr int defaultRetryInterval = 10'000;

    explicit CallerIDModem(QObject* parent = nullptr);
    ~CallerIDModem() override;

    // The device to read ("/dev/ttyACM0"); none stops reading. Setting the same device again does
    // nothing.
    void setDevice(const std::optional<QString>& device);
    const std::optional<QString>& device() const { return device_; }

    // Whether the device is open and set up.
    bool isOpen() const;
    // What the operator should know: empty while the modem works or none is set.
    const QString& status() const { return status_; }

    int retryInterval() const { return retryInterval_; }
    void setRetryInterval(int milliseconds) { retryInterval_ = milliseconds; }

signals:
    // A caller's number, as its telephone key.
    void callAnnounced(const QString& key);
    void statusChanged();

private:
    void open();
    void close();
    void read();
    void lost(const QString& why);
    void setStatus(const QString& status);

    std::optional<QString> device_;
    QSerialPort* port_ = nullptr;
    QTimer* retry_;
    QByteArray pending_;
    QString status_;
    int retryInterval_ = defaultRetryInterval;
};

} // namespace velmora
