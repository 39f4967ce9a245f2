#include "InfoCommand.h"

#include "Arguments.h"
#include "Console.h"
#include "ImageLoad.h"
#include "ReportWords.h"

int showInfo(const Options &opts)
{
    const LoadedImage image = loadImage(opts.image, opts.lab);
    if (!image.failure.isEmpty())
        return ExitImageRefused;
    const ImageFacts &f = image.facts;
    const qint64 wire = wireBytes(f.size);
    const bool accepted = verdictMessage(f.verdict).isEmpty();
    QString text;
    const auto row = [&](const char *name, const QString &value) {
        text += QString::fromLatin1(name).leftJustified(14) + value + QLatin1Char('\n');
    };
    row("File:", opts.image);
    row("Version:", printableField(f.version));
    row("Model:", printableField(f.model));
    row("Boot loader:", printableField(f.bootLevel));
    row("Build tag:", QLatin1Char('"') + printableField(f.tag) + QLatin1Char('"'));
    row("Lab build:", f.lab ? QStringLiteral("yes") : QStringLiteral("no"));
    row("Size:", QStringLiteral("%1 bytes").arg(f.size));
    row("Blocks:", QStringLiteral("%1 of at most 98 bytes").arg(blockCount(f.size)));
    row("Wire time:", QStringLiteral("%1 s (%2 bytes at %3 baud 8N1, erase not included)")
                          .arg(wireSeconds(wire), 0, 'f', 3).arg(wire).arg(WireBaud));
    row("Accepted:", accepted ? QStringLiteral("yes") : QStringLiteral("no: ") + verdictMessage(f.verdict));
    writeOut(text);
    return accepted ? ExitOk : ExitImageRefused;
}
