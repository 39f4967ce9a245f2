#pragma once
// The serial port `com1`: a thin layer over QSerialPort with the operations the
// updater needs, and one notification (`OnComm`) per batch of received bytes.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <functional>

#include "link/PortNaming.h"

// Which device the port opens.
struct PortSettings {
    int number = 0;           // port N: a link comN in linkFolders, else the numbered device
    QString device;           // without a number: this device, by path
    QStringList linkFolders;  // where comN links are looked up, in this order
};

// Notification kinds delivered through CommPort::OnComm.
enum CommEvent : int {
    comEvReceive = 2,
    comEventPortLost = 1011,  // the device failed or vanished; the port was closed
};

class CommPort : public QObject {
    Q_OBJECT
public:
    enum class Direction { Out, In };
    using Tracer = std::function<void(Direction, const QByteArray &, qint64 nsSinceStart)>;

    explicit CommPort(QObject *parent = nullptr);
    ~CommPort() override;

    // Settings, applied while closed. Each returns false when refused.
    bool setPort(const PortSettings &port);     // refused when it names no device
    bool setSettings(const QString &settings);  // "115200,N,8,1"
    void setInputLen(int n) { m_inputLen = n; }
    void setRThreshold(int n) { m_rThreshold = n; }
    void setSThreshold(int n) { m_sThreshold = n; }
    const PortSettings &portSettings() const { return m_portSettings; }
    int commPort() const { return m_portSettings.number; }
    QString deviceName() const { return m_device; }

    bool open();
    void close();  // pushes out pending output first
    bool isOpen() const { return m_port.isOpen(); }
    qint64 inBufferCount() const { return m_port.bytesAvailable(); }
    QByteArray input();                      // all waiting bytes
    // Every waiting byte, also those the driver holds but has not yet
    // handed over, without a receive notification.
    QByteArray takeInput();
    bool output(const QByteArray &bytes);    // one write

    int baudRate() const { return m_port.baudRate(); }
    // While held (an update runs), a comN link that vanishes is a lost
    // device, never a reason to fall back to the numbered default device.
    void holdDevice(bool hold);
    // The last open failed because the device (or the link naming it) is gone.
    bool deviceGone() const { return m_gone; }

    QSerialPort::SerialPortError lastError() const { return m_lastError; }
    QString lastErrorString() const { return m_lastErrorString; }
    quint64 writeCount() const { return m_writes; }
    quint64 openCount() const { return m_opens; }
    void setTracer(Tracer t) { m_tracer = std::move(t); }

signals:
    void OnComm(int kind);

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    PortSettings m_portSettings;
    QString m_device;  // what the last open used, or will use
    int m_inputLen = 0;
    int m_rThreshold = 1;
    int m_sThreshold = 1;
    quint64 m_writes = 0;
    quint64 m_opens = 0;
    QSerialPort::SerialPortError m_lastError = QSerialPort::NoError;
    QString m_lastErrorString;
    Tracer m_tracer;
    QElapsedTimer m_clock;
    LowLatencyState m_lowLatency;
    bool m_closing = false;
    bool m_discarding = false;
    bool m_held = false;
    bool m_heldViaLink = false;
    bool m_gone = false;
};
