// Configuration reading and number reading. The input is the content of an
// INI file; the program's own section/key pairs are looked up in it, and so is
// the first pair the content itself names, so that mutations reach matches.

#include "FuzzCheck.h"
#include "app/core/ArchivoIni.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool removable(char16_t c)
{
    return c == u'\r' || c == u'\n' || c == 0 || c == 0x02;
}

// Only ASCII letters may change: the reader matches names that way.
QString asciiFlipped(const QString &s)
{
    QString out = s;
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        if (u >= u'a' && u <= u'z')
            c = QChar(char16_t(u - 32));
        else if (u >= u'A' && u <= u'Z')
            c = QChar(char16_t(u + 32));
    }
    return out;
}

// The number as the C library reads it, from the accepted characters only.
double referenceNumber(const QString &text)
{
    std::string compact;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u' ' || u == u'\t' || u == u'\n')
            continue;
        if (u > 0x7F)
            break;
        compact.push_back(char(u));
    }
    std::size_t i = 0;
    if (i < compact.size() && (compact[i] == '+' || compact[i] == '-'))
        ++i;
    bool digits = false;
    while (i < compact.size() && compact[i] >= '0' && compact[i] <= '9')
        ++i, digits = true;
    if (i < compact.size() && compact[i] == '.') {
        ++i;
        while (i < compact.size() && compact[i] >= '0' && compact[i] <= '9')
            ++i, digits = true;
    }
    if (!digits)
        return 0.0;
    compact.resize(i);
    const double v = std::strtod(compact.c_str(), nullptr);
    return v == 0.0 ? 0.0 : v;
}

void checkCleanText(const QString &text)
{
    const QString clean = funCleanText(text);
    QString kept;
    for (const QChar c : text)
        if (!removable(c.unicode()))
            kept.append(c);
    FUZZ_CHECK(clean == kept);
    FUZZ_CHECK(funCleanText(clean) == clean);
}

void checkNumbers(const QString &text)
{
    checkCleanText(text);
    const double v = readLeadingNumber(text);
    FUZZ_CHECK(!std::isnan(v));
    FUZZ_CHECK(v != 0.0 || !std::signbit(v));
    const double ref = referenceNumber(text);
    FUZZ_CHECK(v == ref);

    const double cleaned = readLeadingNumber(funCleanText(text));
    const auto port = portNumberFromText(text);
    const double nearest = std::nearbyint(cleaned);  // ties to even in the default mode
    if (std::isfinite(cleaned) && nearest >= 0.0 && nearest <= 255.0) {
        FUZZ_CHECK(port.has_value());
        FUZZ_CHECK(double(*port) == nearest);
    } else {
        FUZZ_CHECK(!port.has_value());
    }
    FUZZ_CHECK(progModeFromText(text) == (cleaned == 1.0));
}

void checkValue(const QString &value)
{
    FUZZ_CHECK(value.size() <= 254);
    for (const QChar c : value) {
        FUZZ_CHECK(!removable(c.unicode()));
        FUZZ_CHECK(c.unicode() <= 0xFF);
    }
}

void checkLookup(const QByteArray &content, const QString &section, const QString &key)
{
    const QString value = readIniValue(content, section, key);
    checkValue(value);
    checkNumbers(value);
    FUZZ_CHECK(readIniValue(content, asciiFlipped(section), asciiFlipped(key)) == value);
    if (!value.isEmpty()) {
        // A found value lives on one line; nothing after it or before the file
        // matters once a comment line is put in front.
        FUZZ_CHECK(readIniValue(content + "\n[" + section.toLatin1() + "]\n" + key.toLatin1()
                                    + "=other\n",
                                section, key)
                   == value);
        FUZZ_CHECK(readIniValue(";comment\n" + content, section, key) == value);
    }
}

// The first "[name]" and the first "key=" after it.
void namedPair(const QByteArray &content, QString &section, QString &key)
{
    const qsizetype open = content.indexOf('[');
    if (open < 0)
        return;
    const qsizetype close = content.indexOf(']', open);
    const qsizetype eol = content.indexOf('\n', open);
    if (close < 0 || eol < 0 || close > eol)
        return;
    section = QString::fromLatin1(content.mid(open + 1, close - open - 1)).trimmed();
    const qsizetype eq = content.indexOf('=', eol);
    if (eq < 0)
        return;
    const qsizetype lineStart = content.lastIndexOf('\n', eq) + 1;
    key = QString::fromLatin1(content.mid(lineStart, eq - lineStart)).trimmed();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static QTemporaryDir dir;
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));

    checkNumbers(QString::fromLatin1(content));
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);  // the input need not be aligned
    checkNumbers(QString(reinterpret_cast<const QChar *>(units.data()), qsizetype(units.size())));

    checkLookup(content, QStringLiteral("SERIAL"), QStringLiteral("CommNum"));
    checkLookup(content, QStringLiteral("MODE"), QStringLiteral("ModeProg"));
    QString section, key;
    namedPair(content, section, key);
    checkLookup(content, section, key);

    // The file on disk reads exactly as its bytes in memory. Writing a file
    // costs more than all the rest, so only one input in sixteen does it.
    if (size % 16 != 0)
        return 0;
    QFile file(dir.filePath(QString::fromLatin1(IniFileName)));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(content) == content.size());
    file.close();
    FUZZ_CHECK(funReadIni(dir.path(), QString::fromLatin1(IniFileName), section, key)
               == readIniValue(content, section, key));
    return 0;
}
