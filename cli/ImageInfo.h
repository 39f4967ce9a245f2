#pragma once
// What an image holds, and what sending it costs.

#include <QByteArray>
#include <QString>
#include <optional>

#include "image/ImageFile.h"

struct ImageFacts {
    qint64 size = 0;
    QString sha256;                          // hex
    QString version, model, bootLevel, tag;  // raw characters of the identification block
    bool lab = false;
    ImageVerdict verdict = ImageVerdict::WrongModel;
};

// The whole file; nullopt when it is not a readable regular file of at most 2 GiB.
std::optional<QByteArray> readImage(const QString &path);
// nullopt when the identification block cannot be read.
std::optional<ImageFacts> imageFactsOf(const QByteArray &image, bool progMode);

inline constexpr int WireBaud = 115200;
inline constexpr int WireBitsPerByte = 10;  // 8N1: start, eight data bits, stop

qint64 blockCount(qint64 size);
// Every byte of a whole update's conversation, both directions.
qint64 wireBytes(qint64 size);
double wireSeconds(qint64 bytes);

// Printable ASCII as is; anything else, and the backslash, as \xNN.
QString printableField(const QString &field);
