#include "link/PortNaming.h"

#include <QtGlobal>
#ifdef Q_OS_WIN

#include <QSerialPortInfo>

QString portDeviceName(int number, const QStringList &)
{
    return number <= 0 ? QString() : QStringLiteral("COM%1").arg(number);
}

QString portLinkTarget(int, const QStringList &)
{
    return {};
}

SerialFlagCalls serialFlagCalls{};

void enableLowLatency(qintptr, LowLatencyState &state)
{
    state.changed = false;
}

void restoreLowLatency(qintptr, LowLatencyState &state)
{
    state.changed = false;
}

DeviceAccess deviceAccess(const QString &device)
{
    DeviceAccess a;
    a.device = device;
    return a;
}

QString permissionAdvice(const DeviceAccess &)
{
    return QStringLiteral("close any other program that uses the port");
}

QString permissionHint(const QString &)
{
    return QStringLiteral("close any other program that uses the port");
}

#endif
