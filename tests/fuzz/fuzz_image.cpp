// The image checks on arbitrary files: the readers return their fields'
// lengths and leave the position behind them, and a verdict never admits an
// image its fields refuse.

#include "FuzzCheck.h"
#include "image/ImageFile.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool progMode = data[0] & 1;
    // Short inputs are spread round the identification block, long ones kept.
    QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (bytes.size() < 1024)
        bytes.prepend(QByteArray(1024 + (data[0] >> 1) % 24 - 12, 'x'));
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    const qint64 end = bytes.size();
    FUZZ_CHECK(funFileVersion(file).size() == 8 && file.pos() == qMin<qint64>(1032, end));
    const QString model = funFileModel(file), level = funFileBootVersion(file), tag = funFileTag(file);
    FUZZ_CHECK(model.size() == 3 && level.size() == 1 && tag.size() == 4 && file.pos() == qMin<qint64>(1040, end));
    const ImageVerdict v = classifyImage(file, progMode);
    const bool accepted = v == ImageVerdict::Accepted || v == ImageVerdict::AcceptedLab;
    FUZZ_CHECK(!accepted || (model == QLatin1String("KD7") && level[0].unicode() <= 0x30));
    FUZZ_CHECK((v == ImageVerdict::AcceptedLab) == (accepted && progMode && tag == QLatin1String("LABT")));
    FUZZ_CHECK((v == ImageVerdict::LabRefused) == (model == QLatin1String("KD7") && level[0].unicode() <= 0x30
                                                   && !progMode && tag == QLatin1String("LABT")));
    FUZZ_CHECK(verdictMessage(v).isEmpty() == accepted);
    return 0;
}
