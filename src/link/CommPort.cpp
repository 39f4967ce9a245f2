#include "link/CommPort.h"

#include <QFileInfo>

#include "link/PortHandle.h"

CommPort::CommPort(QObject *parent) : QObject(parent)
{
    m_clock.start();
    connect(&m_port, &QSerialPort::readyRead, this, &CommPort::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &CommPort::onError);
}

CommPort::~CommPort()
{
    close();
}

bool CommPort::setPort(const PortSettings &port)
{
    if (m_port.isOpen())
        return false;
    m_portSettings = port;
    m_device = port.number > 0 || port.device.isEmpty() ? portDeviceName(port.number, port.linkFolders)
                                                        : port.device;
    return !m_device.isEmpty();
}

bool CommPort::setSettings(const QString &settings)
{
    if (m_port.isOpen())
        return false;
    const QStringList f = settings.split(QLatin1Char(','));
    if (f.size() != 4)
        return false;
    bool ok = false;
    const int baud = f[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0)
        return false;
    QSerialPort::Parity parity;
    switch (f[1].trimmed().toUpper().at(0).toLatin1()) {
    case 'N': parity = QSerialPort::NoParity; break;
    case 'E': parity = QSerialPort::EvenParity; break;
    case 'O': parity = QSerialPort::OddParity; break;
    case 'M': parity = QSerialPort::MarkParity; break;
    case 'S': parity = QSerialPort::SpaceParity; break;
    default: return false;
    }
    const int bits = f[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return false;
    const QString stop = f[3].trimmed();
    QSerialPort::StopBits stopBits;
    if (stop == QLatin1String("1"))
        stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        stopBits = QSerialPort::TwoStop;
    else
        return false;
    m_port.setBaudRate(baud);
    m_port.setParity(parity);
    m_port.setDataBits(static_cast<QSerialPort::DataBits>(bits));
    m_port.setStopBits(stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    return true;
}

void CommPort::holdDevice(bool hold)
{
    m_held = hold;
    m_heldViaLink = hold && m_portSettings.number > 0 && !portLinkTarget(m_portSettings.number, m_portSettings.linkFolders).isEmpty();
}

bool CommPort::open()
{
    if (m_port.isOpen())
        return true;
    m_gone = false;
    // A comN link may be re-pointed at any time (a re-plugged adapter, another
    // indicator on the bench): the device it names now is the one to open.
    if (m_portSettings.number > 0) {
        if (m_heldViaLink && portLinkTarget(m_portSettings.number, m_portSettings.linkFolders).isEmpty()) {
            // The numbered default device would be another device altogether:
            // not opened, and not named either (the messages keep the last one).
            m_gone = true;
            m_lastError = QSerialPort::DeviceNotFoundError;
            m_lastErrorString = QStringLiteral("the link com%1 has vanished").arg(m_portSettings.number);
            return false;
        }
        m_device = portDeviceName(m_portSettings.number, m_portSettings.linkFolders);
    } else if (!m_portSettings.device.isEmpty()) {
        // A device named through a link (/dev/serial/by-id/...) is opened by
        // its present real path, so the lock file is the device's own.
        const QString real = QFileInfo(m_portSettings.device).canonicalFilePath();
        m_device = real.isEmpty() ? m_portSettings.device : real;
    }
    if (m_device.isEmpty()) {
        m_lastError = QSerialPort::DeviceNotFoundError;
        m_lastErrorString = QStringLiteral("no serial device for port %1").arg(m_portSettings.number);
        return false;
    }
    m_port.setPortName(m_device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_lastError = m_port.error();
        m_lastErrorString = m_port.errorString();
        m_gone = m_held && (m_lastError == QSerialPort::DeviceNotFoundError || !QFileInfo::exists(m_device));
        m_port.clearError();
        return false;
    }
    ++m_opens;
    m_lastError = QSerialPort::NoError;
    m_lastErrorString.clear();
    enableLowLatency(m_port.handle(), m_lowLatency);
    holdPortForRelease(m_port.handle(), m_device, m_lowLatency);
    return true;
}

void CommPort::close()
{
    if (!m_port.isOpen() || m_closing)
        return;
    m_closing = true;
    // QSerialPort writes asynchronously: whatever is still queued would never
    // reach the line once the port is closed.
    while (m_port.isOpen() && m_port.bytesToWrite() > 0) {
        if (!m_port.waitForBytesWritten(2000))
            break;
    }
    if (m_port.isOpen()) {
        restoreLowLatency(m_port.handle(), m_lowLatency);
        forgetHeldPort();
        m_port.close();
    }
    m_closing = false;
}

QByteArray CommPort::input()
{
    if (!m_port.isOpen())
        return {};
    QByteArray data = m_port.readAll();
    if (m_tracer && !data.isEmpty())
        m_tracer(Direction::In, data, m_clock.nsecsElapsed());
    return data;
}

QByteArray CommPort::takeInput()
{
    if (!m_port.isOpen())
        return {};
    // Read rather than flush: after a flush of its input a pseudo-terminal
    // was seen to deliver nothing more, which would make a babbling line look
    // quiet. Nobody else is told of what is read here.
    m_discarding = true;
    QByteArray taken = input();
    while (m_port.isOpen() && bytesInDriver(m_port.handle()) > 0 && m_port.waitForReadyRead(0))
        taken += input();
    m_discarding = false;
    return taken;
}

bool CommPort::output(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return false;
    ++m_writes;
    if (m_tracer)
        m_tracer(Direction::Out, bytes, m_clock.nsecsElapsed());
    if (bytes.isEmpty())
        return true;
    if (m_port.write(bytes) != bytes.size())
        return false;
    // Hand the bytes to the driver now rather than on the next event-loop pass.
    m_port.flush();
    return true;
}

void CommPort::onReadyRead()
{
    if (!m_discarding)
        emit OnComm(comEvReceive);
}

void CommPort::onError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    m_lastError = error;
    m_lastErrorString = m_port.errorString();
    if (!m_port.isOpen())
        return;
    // A vanished device makes Qt repeat this signal endlessly at full CPU
    // until the port is closed, so close it here, without draining.
    m_port.clearError();
    if (!m_closing) {
        // A device still there keeps its flags after we are gone: put them back.
        restoreLowLatency(m_port.handle(), m_lowLatency);
        forgetHeldPort();
        m_port.close();
    }
    emit OnComm(comEventPortLost);
}
