#include "support/SimRig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/core/StartUp.h"
#include "link/Link.h"
#include "protocol/frames.h"

torvexsim::Options indicator(const QStringList &behaviour)
{
    torvexsim::Options o;
    for (const QString &b : behaviour) {
        const QString value = b.section(QLatin1Char('='), 1);
        if (b.startsWith(QLatin1String("erase=")))
            o.eraseOutcome = *torvexsim::parseEraseOutcome(value.toStdString());
        else if (b.startsWith(QLatin1String("model=")))
            o.modelCode = value.toStdString();
        else if (b.startsWith(QLatin1String("device=")))
            o.deviceCode = value.toStdString();
        else if (b == QLatin1String("plain-hex"))
            o.plainHexCodes = true;
        else if (b.startsWith(QLatin1String("baud=")))
            o.baud = value.toUInt();
        else if (b.startsWith(QLatin1String("program=")))
            o.programTime = std::chrono::milliseconds(value.toInt());
        else if (b.startsWith(QLatin1String("latency=")))
            o.latency = std::chrono::microseconds(qRound64(value.toDouble() * 1000));
        else if (b == QLatin1String("erase-background"))
            o.eraseInBackground = true;
        else if (b.startsWith(QLatin1String("erase-time=")))
            o.eraseTime = std::chrono::milliseconds(value.toInt());
        else if (b.startsWith(QLatin1String("hang-up=")))
            o.hangUpAfterBlock = value.toUInt();
        else if (const auto rule = torvexsim::parseFaultRule(b.toStdString()))
            o.faults.push_back(*rule);
        else
            qFatal("unknown indicator behaviour %s", qPrintable(b));
    }
    return o;
}

bool SimRig::start(torvexsim::Options options, int port)
{
    if (!dir.isValid())
        return false;
    options.linkPath = QDir(dir.path()).filePath(QStringLiteral("com%1").arg(port)).toStdString();
    sim = std::make_unique<torvexsim::Simulator>(std::move(options));
    sim->start();
    writeIni("[SERIAL]\r\nCommNum=" + QByteArray::number(port) + "\r\n[MODE]\r\nModeProg=0\r\n");
    return true;
}

void SimRig::writeIni(const QByteArray &content)
{
    writeFile(QStringLiteral("BootLoaderTorvexII.ini"), content);
}

QString SimRig::writeFile(const QString &name, const QByteArray &content)
{
    const QString path = QDir(dir.path()).filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
    return path;
}

QByteArray SimRig::flash(qsizetype n) const
{
    const auto f = sim->flash();
    return QByteArray(reinterpret_cast<const char *>(f.data()), qMin<qsizetype>(n, qsizetype(f.size())));
}

QByteArray SimRig::received() const
{
    const auto r = sim->received();
    return QByteArray(reinterpret_cast<const char *>(r.data()), qsizetype(r.size()));
}

QByteArray makeImage(int size, const QByteArray &version, const QByteArray &model, char level,
                     const QByteArray &tag)
{
    QByteArray image(size, '\0');
    quint32 x = 0x12345u + quint32(size);
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        image[i] = char(x >> 23);
    }
    const QByteArray id = version.leftJustified(8, ' ', true) + model + level + tag;
    for (int i = 0; i < id.size() && 1024 + i < size; ++i)
        image[1024 + i] = id[i];
    return image;
}

bool lockFileLeft(const QString &device)
{
    // /run/lock/LCK.. and the device's path below /dev, '/' made '_'.
    return QFile::exists("/run/lock/LCK.." + QFileInfo(device).canonicalFilePath().mid(5).replace('/', '_'));
}

QByteArray dataFrame(const QByteArray &data, std::uint8_t seq)
{
    const auto header = *proto::blockHeader(int(data.size()), seq);
    return header + data
         + proto::blockTrailer(header, reinterpret_cast<const std::uint8_t *>(data.constData()),
                               int(data.size()));
}

QByteArray wireOf(const QStringList &tokens, const QByteArray &image)
{
    const QByteArray resync = QByteArray(20, '\r') + dataFrame({}, 0) + QByteArray(20, '\r');
    const int blocks = int((image.size() + 97) / 98);
    QByteArray s;
    for (const QString &t : tokens) {
        if (t == QLatin1String("wake"))
            s += "BL\rBL\rBL\r" + resync;
        else if (t == QLatin1String("resync"))
            s += resync;
        else if (t == QLatin1String("end"))
            s += dataFrame({}, 0);
        else if (t.size() == 1)
            s += *proto::commandFrame(t[0].toLatin1(), t == QLatin1String("E") || t == QLatin1String("S")
                                                           ? proto::GuardValue : 0, 0);
        else {
            int first = 0, last = blocks - 1;
            if (t != QLatin1String("blocks"))
                first = last = t.mid(1).section(QLatin1Char('-'), 0, 0).toInt();
            if (t.contains(QLatin1Char('-')))
                last = t.section(QLatin1Char('-'), 1).toInt();
            for (int k = first; k <= last; ++k)
                s += dataFrame(image.mid(k * 98, 98), std::uint8_t(k));
        }
    }
    return s;
}
