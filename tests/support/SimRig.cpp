#include "support/SimRig.h"

#include <QDir>
#include <QFile>

#include "app/core/StartUp.h"
#include "link/Link.h"
#include "protocol/frames.h"

bool SimRig::start(torvexsim::Options options, int port, const char *modeProg)
{
    if (!dir.isValid())
        return false;
    options.linkPath = QDir(dir.path()).filePath(QStringLiteral("com%1").arg(port)).toStdString();
    sim = std::make_unique<torvexsim::Simulator>(std::move(options));
    sim->start();
    writeIni(QByteArray("[SERIAL]\r\nCommNum=") + QByteArray::number(port)
             + "\r\n[MODE]\r\nModeProg=" + modeProg + "\r\n");
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

bool SimRig::startUp(Link &link)
{
    return runStartUp(link, exeDir()).ok;
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
    const auto put = [&](int at, const QByteArray &field) {
        for (int i = 0; i < field.size() && at + i < size; ++i)
            image[at + i] = field[i];
    };
    put(1024, version.leftJustified(8, ' ', true));
    put(1032, model);
    put(1035, QByteArray(1, level));
    put(1036, tag);
    return image;
}

QByteArray dataFrame(const QByteArray &data, std::uint8_t seq)
{
    const auto header = *proto::blockHeader(int(data.size()), seq);
    return header + data
         + proto::blockTrailer(header, reinterpret_cast<const std::uint8_t *>(data.constData()),
                               int(data.size()));
}

QByteArray wakeAndResync()
{
    return QByteArray("BL\rBL\rBL\r") + QByteArray(20, '\r') + dataFrame({}, 0) + QByteArray(20, '\r');
}

QByteArray expectedUpdateStream(const QByteArray &image)
{
    QByteArray s = wakeAndResync();
    s += *proto::commandFrame('I', 0, 0);
    s += *proto::commandFrame('E', proto::GuardValue, 0);
    s += *proto::commandFrame('W', 0, 0);
    std::uint8_t seq = 0;
    for (qsizetype at = 0; at < image.size(); at += proto::MaxBlockLength)
        s += dataFrame(image.mid(at, proto::MaxBlockLength), seq++);
    s += dataFrame({}, 0);
    s += *proto::commandFrame('S', proto::GuardValue, 0);
    return s;
}
