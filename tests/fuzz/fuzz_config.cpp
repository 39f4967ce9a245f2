// The configuration reader on arbitrary files: a value is at most 254
// characters and free of the removed control characters, a value planted in
// its own section at the top is found, and a port number is always 0..255.

#include "FuzzCheck.h"
#include "app/core/ArchivoIni.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromLatin1(content);
    for (const QString &key : {QStringLiteral("CommNum"), QStringLiteral("ModeProg")}) {
        const QString v = readIniValue(content, QStringLiteral("SERIAL"), key);
        FUZZ_CHECK(v.size() <= 254);
        for (QChar c : v)
            FUZZ_CHECK(c != u'\r' && c != u'\n' && c != QChar(0) && c != QChar(2));
    }
    FUZZ_CHECK(readIniValue("[Fuzz]\nKey=planted\n" + content, QStringLiteral("FUZZ"), QStringLiteral("key"))
               == QStringLiteral("planted"));
    FUZZ_CHECK(!std::isnan(readLeadingNumber(text)));
    if (const auto port = portNumberFromText(text))
        FUZZ_CHECK(*port <= 255);
    FUZZ_CHECK(!progModeFromText(text) || readLeadingNumber(funCleanText(text)) == 1.0);
    return 0;
}
