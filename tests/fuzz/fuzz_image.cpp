// The identification-block readers and classifyImage. The first input byte
// chooses the device and the programming mode; the rest is the file, with the
// identification block moved to its start when the "padded" bit is set so
// that mutations reach it without growing past 1 KiB.

#include "FuzzCheck.h"
#include "image/ImageFile.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <functional>

namespace {

// A random-access device that can refuse to seek, or stop reading at one
// byte: a short read up to it, then an error.
class TestDevice : public QIODevice {
public:
    TestDevice(const QByteArray &data, bool sequential, qint64 failAt, bool failSeek)
        : m_data(data), m_sequential(sequential), m_failAt(failAt), m_failSeek(failSeek)
    {
    }
    bool isSequential() const override { return m_sequential; }
    qint64 size() const override { return m_sequential ? 0 : m_data.size(); }
    bool seek(qint64 pos) override
    {
        if (m_failSeek || !QIODevice::seek(pos))
            return false;
        m_pos = pos;
        return true;
    }

protected:
    qint64 readData(char *out, qint64 maxSize) override
    {
        qint64 n = std::min(maxSize, qint64(m_data.size()) - m_pos);
        if (n <= 0)
            return 0;
        if (m_failAt >= m_pos && m_failAt < m_pos + n)
            n = m_failAt - m_pos;
        if (n == 0)
            return -1;
        std::copy_n(m_data.constData() + m_pos, n, out);
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    bool m_sequential;
    qint64 m_failAt;
    bool m_failSeek;
    qint64 m_pos = 0;
};

enum Device : unsigned { ReadOnly, ReadWrite, WriteOnly, Sequential, FailingRead, FailingSeek, Kinds };

struct Field {
    QString (*read)(QIODevice &);
    qint64 offset;
    int length;
};
const Field Fields[] = {
    {funFileVersion, 1024, 8},
    {funFileModel, 1032, 3},
    {funFileBootVersion, 1035, 1},
    {funFileTag, 1036, 4},
};

QString expectedField(const QByteArray &file, qint64 offset, int length)
{
    QString s;
    for (qint64 p = offset; p < offset + length; ++p)
        s.append(QChar(p < file.size() ? std::uint8_t(file[p]) : 0));
    return s;
}

ImageVerdict expectedVerdict(const QByteArray &file, bool progMode)
{
    if (expectedField(file, 1032, 3) != QLatin1String("KD7"))
        return ImageVerdict::WrongModel;
    if (expectedField(file, 1035, 1)[0].unicode() > u'0')
        return ImageVerdict::WrongBootLevel;
    if (expectedField(file, 1036, 4) == QLatin1String("LABT"))
        return progMode ? ImageVerdict::AcceptedLab : ImageVerdict::LabRefused;
    return ImageVerdict::Accepted;
}

bool throwsReadError(const std::function<void()> &f)
{
    try {
        f();
    } catch (const ImageReadError &) {
        return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t flags = data[0];
    const std::uint8_t failByte = data[1];
    const bool progMode = flags & 1;
    const bool padded = flags & 2;
    const unsigned kind = (flags >> 2) % Kinds;
    QByteArray file = padded ? QByteArray(IdBlockOffset, '\xFF') : QByteArray();
    file.append(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    const QByteArray original = file;

    if (kind == ReadOnly || kind == ReadWrite) {
        QBuffer buffer(&file);
        FUZZ_CHECK(buffer.open(kind == ReadOnly ? QIODevice::ReadOnly : QIODevice::ReadWrite));
        FUZZ_CHECK(buffer.seek(std::min<qint64>(failByte, file.size())));
        // Each reader positions itself: any order gives the same fields.
        for (int i = 0; i < 4; ++i) {
            const Field &f = Fields[(i + (flags >> 5)) % 4];
            const QString value = f.read(buffer);
            FUZZ_CHECK(value.size() == f.length);
            FUZZ_CHECK(value == expectedField(original, f.offset, f.length));
            FUZZ_CHECK(buffer.pos() == std::min<qint64>(f.offset + f.length, original.size()));
        }
        const bool lab = funIsLabVersion(buffer);
        FUZZ_CHECK(lab == (expectedField(original, 1036, 4) == QLatin1String("LABT")));
        const ImageVerdict verdict = classifyImage(buffer, progMode);
        FUZZ_CHECK(verdict == expectedVerdict(original, progMode));
        const bool accepted = verdict == ImageVerdict::Accepted || verdict == ImageVerdict::AcceptedLab;
        FUZZ_CHECK(verdictMessage(verdict).isEmpty() == accepted);
        if (verdict == ImageVerdict::AcceptedLab || verdict == ImageVerdict::LabRefused)
            FUZZ_CHECK(lab && progMode == (verdict == ImageVerdict::AcceptedLab));
        // Reading never grows or changes the file, even through a writable buffer.
        FUZZ_CHECK(file == original);
        return 0;
    }

    if (kind == WriteOnly) {
        QBuffer buffer(&file);
        FUZZ_CHECK(buffer.open(QIODevice::WriteOnly));
        for (const Field &f : Fields)
            FUZZ_CHECK(throwsReadError([&] { f.read(buffer); }));
        FUZZ_CHECK(throwsReadError([&] { classifyImage(buffer, progMode); }));
        FUZZ_CHECK(file == original);
        return 0;
    }

    // A byte of the identification block (or nearby) that cannot be read.
    const qint64 failAt = kind == FailingRead ? IdBlockOffset - 2 + failByte % 20 : -1;
    TestDevice device(file, kind == Sequential, failAt, kind == FailingSeek);
    // Unbuffered: each byte the readers take is one readData() at a known place.
    FUZZ_CHECK(device.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    for (const Field &f : Fields) {
        QString value;
        const bool threw = throwsReadError([&] { value = f.read(device); });
        const bool unreadable = failAt >= f.offset && failAt < f.offset + f.length
                                && failAt < file.size();
        if (kind == Sequential || kind == FailingSeek || unreadable) {
            FUZZ_CHECK(threw);
        } else {
            FUZZ_CHECK(!threw);
            FUZZ_CHECK(value == expectedField(file, f.offset, f.length));
        }
    }
    return 0;
}
