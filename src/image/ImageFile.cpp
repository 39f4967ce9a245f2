#include "image/ImageFile.h"

#include <algorithm>

namespace {

constexpr qint64 VersionOffset = IdBlockOffset;
constexpr qint64 ModelOffset = IdBlockOffset + 8;
constexpr qint64 BootLevelOffset = IdBlockOffset + 11;
constexpr qint64 TagOffset = IdBlockOffset + 12;

QString readField(QIODevice &file, qint64 offset, int length)
{
    if (!file.isReadable())
        throw ImageReadError("The file cannot be read.");
    // A pipe has no size and no seek; reading it would wait for ever.
    if (file.isSequential())
        throw ImageReadError("The file cannot be read: it is not a regular file.");

    // Never seek past the end: a writable QBuffer would grow to fill the gap.
    const qint64 size = file.size();
    const qint64 start = std::min(offset, size);
    if (!file.seek(start))
        throw ImageReadError("The file cannot be read: seek failed.");

    QString field;
    field.reserve(length);
    for (qint64 pos = offset; pos < offset + length; ++pos) {
        if (pos >= size) {
            field.append(QChar(0));
            continue;
        }
        char c = 0;
        if (!file.getChar(&c))
            throw ImageReadError("The file cannot be read: read failed.");
        field.append(QChar(static_cast<uchar>(c)));
    }
    return field;
}

}  // namespace

QString funFileVersion(QIODevice &file)
{
    return readField(file, VersionOffset, 8);
}

QString funFileModel(QIODevice &file)
{
    return readField(file, ModelOffset, 3);
}

QString funFileBootVersion(QIODevice &file)
{
    return readField(file, BootLevelOffset, 1);
}

QString funFileTag(QIODevice &file)
{
    return readField(file, TagOffset, 4);
}

bool funIsLabVersion(QIODevice &file)
{
    return funFileTag(file) == QLatin1String("LABT");
}

ImageVerdict classifyImage(QIODevice &file, bool progMode)
{
    if (funFileModel(file) != QLatin1String(ServedModel))
        return ImageVerdict::WrongModel;
    // Latin-1 characters, so this is the byte compared as unsigned.
    if (funFileBootVersion(file).at(0).unicode() > 0x30)
        return ImageVerdict::WrongBootLevel;
    if (funIsLabVersion(file))
        return progMode ? ImageVerdict::AcceptedLab : ImageVerdict::LabRefused;
    return ImageVerdict::Accepted;
}

QString verdictMessage(ImageVerdict verdict)
{
    switch (verdict) {
    case ImageVerdict::WrongModel:
        return QStringLiteral("This file is not compatible with the indicator.");
    case ImageVerdict::WrongBootLevel:
        return QStringLiteral("This file is not compatible with this bootloader.");
    case ImageVerdict::LabRefused:
        return QStringLiteral("This file can't be loaded.");
    case ImageVerdict::Accepted:
    case ImageVerdict::AcceptedLab:
        break;
    }
    return QString();
}
