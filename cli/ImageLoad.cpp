#include "ImageLoad.h"

#include "Arguments.h"
#include "Console.h"

LoadedImage loadImage(const QString &path, bool progMode)
{
    LoadedImage image;
    if (refuseInexactName(path, "file")) {
        image.failure = QStringLiteral("image name not valid UTF-8");
        return image;
    }
    const auto bytes = readImage(path);
    const auto facts = bytes ? imageFactsOf(*bytes, progMode) : std::nullopt;
    if (!facts) {
        writeErr(QStringLiteral("error: cannot read %1: not a readable regular file of at most 2 GiB\n").arg(path));
        image.failure = QStringLiteral("image unreadable");
        return image;
    }
    image.bytes = *bytes;
    image.facts = *facts;
    return image;
}
