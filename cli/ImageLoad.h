#pragma once
// The IMAGE of the command line read once: its facts and the bytes to send
// come from the same read, whatever happens to the file afterwards.

#include <QByteArray>
#include <QString>

#include "ImageInfo.h"

struct LoadedImage {
    QByteArray bytes;
    ImageFacts facts;
    QString failure;  // why it could not be read, for the end event; "" when read
};

// Says on standard error why an image cannot be read.
LoadedImage loadImage(const QString &path, bool progMode);
