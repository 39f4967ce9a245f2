#include "ImageInfo.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>

#include "image/FilePaths.h"
#include "protocol/frames.h"

std::optional<QByteArray> readImage(const QString &path)
{
    const auto size = imageFileSize(path);
    QFile file(path);
    if (!size || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (bytes.size() != *size)
        return std::nullopt;
    return bytes;
}

std::optional<ImageFacts> imageFactsOf(const QByteArray &image, bool progMode)
{
    QByteArray copy = image;
    QBuffer file(&copy);
    file.open(QIODevice::ReadOnly);
    ImageFacts f;
    f.size = image.size();
    f.sha256 = QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
    try {
        f.version = funFileVersion(file);
        f.model = funFileModel(file);
        f.bootLevel = funFileBootVersion(file);
        f.tag = funFileTag(file);
        f.lab = funIsLabVersion(file);
        f.verdict = classifyImage(file, progMode);
    } catch (const ImageReadError &) {
        return std::nullopt;
    }
    return f;
}

qint64 blockCount(qint64 size)
{
    return (size + proto::MaxBlockLength - 1) / proto::MaxBlockLength;
}

qint64 wireBytes(qint64 size)
{
    using namespace proto;
    constexpr int command = CommandFrameSize;
    constexpr int emptyBlock = BlockHeaderSize + BlockTrailerSize;
    const qint64 wake = 3 * 3;                                      // "BL" CR, three times
    const qint64 resync = 20 + emptyBlock + 20 + ShortReplyLength;  // CRs, empty frame, CRs
    const qint64 identify = command + IdentifyReplyLength;
    const qint64 erase = command + ShortReplyLength;
    const qint64 writeMode = command + ShortReplyLength;
    const qint64 blocks = blockCount(size) * (emptyBlock + ShortReplyLength) + size;
    const qint64 endWrite = emptyBlock + ShortReplyLength;
    const qint64 reset = command + ShortReplyLength;
    return wake + resync + identify + erase + writeMode + blocks + endWrite + reset;
}

double wireSeconds(qint64 bytes)
{
    return double(bytes) * WireBitsPerByte / WireBaud;
}

QString printableField(const QString &field)
{
    QString out;
    for (const QChar c : field) {
        const ushort u = c.unicode();
        if (u >= 0x20 && u < 0x7F && u != '\\')
            out += c;
        else
            out += QStringLiteral("\\x") + QString::number(u, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    return out;
}
