#include "app/core/ArchivoIni.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStringView>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

// The file is parsed by hand rather than with QSettings: QSettings splits
// values at commas and decodes escapes, which the program's INI files were
// never written for.

namespace {

// Size of the buffer the value was historically read into; one place is the NUL.
constexpr qsizetype ValueBufferSize = 255;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView trimBlanks(QStringView s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isBlank(s[begin]))
        ++begin;
    while (end > begin && isBlank(s[end - 1]))
        --end;
    return s.mid(begin, end - begin);
}

char16_t asciiLower(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c;
}

// ASCII only: other letters must match exactly, whatever the system locale.
bool sameName(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (asciiLower(a[i].unicode()) != asciiLower(b[i].unicode()))
            return false;
    return true;
}

QStringView unquote(QStringView value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// Raw value of the key, or an empty string. Only the first section of that
// name is looked at, as the system reader does when a name appears twice.
QString findValue(const QString &text, QStringView section, QStringView key)
{
    enum class Where { Before, Inside, After };
    Where where = Where::Before;
    const qsizetype size = text.size();
    qsizetype pos = 0;
    while (pos < size && where != Where::After) {
        qsizetype end = pos;
        while (end < size && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        const QStringView line = trimBlanks(QStringView(text).mid(pos, end - pos));
        // CR LF, CR alone and LF alone each end one line.
        pos = end;
        if (pos < size)
            pos += (text[pos] == u'\r' && pos + 1 < size && text[pos + 1] == u'\n') ? 2 : 1;

        if (line.isEmpty() || line.front() == u';')
            continue;
        if (line.front() == u'[') {
            if (where == Where::Inside) {
                where = Where::After;
                continue;
            }
            qsizetype close = line.indexOf(u']');
            if (close < 0)
                close = line.size();
            if (sameName(trimBlanks(line.mid(1, close - 1)), section))
                where = Where::Inside;
            continue;
        }
        if (where != Where::Inside)
            continue;
        // A line without '=' is a key with no value: it still shadows later ones.
        const qsizetype eq = line.indexOf(u'=');
        const QStringView name = trimBlanks(eq < 0 ? line : line.first(eq));
        if (!sameName(name, key))
            continue;
        if (eq < 0)
            return QString();
        return unquote(trimBlanks(line.mid(eq + 1))).toString();
    }
    return QString();
}

}  // namespace

QString funCleanText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\r' || c == u'\n' || c == QChar(0) || c == QChar(0x02))
            continue;
        out.append(c);
    }
    return out;
}

QByteArray readIniFile(const QString &directory, const QString &fileName)
{
    const QString path = directory + u'/' + fileName;
    if (!QFileInfo(path).isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return file.error() == QFileDevice::NoError ? bytes : QByteArray();
}

QString funReadIni(const QString &directory, const QString &fileName,
                   const QString &section, const QString &key)
{
    return readIniValue(readIniFile(directory, fileName), section, key);
}

QString readIniValue(const QByteArray &content, const QString &section, const QString &key)
{
    QString value = findValue(QString::fromLatin1(content), section, key);
    value.truncate(ValueBufferSize - 1);
    // The value used to sit in a NUL-padded buffer that was then trimmed of
    // spaces at both ends; the NULs behind the value shield its trailing
    // spaces, so only leading ones go. NULs inside the value (the system
    // reader would stop there) are simply dropped with the other controls.
    qsizetype lead = 0;
    while (lead < value.size() && value[lead] == u' ')
        ++lead;
    value.remove(0, lead);
    return funCleanText(value);
}

double readLeadingNumber(const QString &text)
{
    // Gathered into plain ASCII and converted with from_chars, which ignores
    // the process locale (Qt sets it from the environment at start-up).
    std::string number;
    bool signAllowed = true;
    bool seenPoint = false;
    bool seenDigit = false;
    bool nonZeroBeforePoint = false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u' ' || u == u'\t' || u == u'\n')
            continue;
        if (signAllowed && (u == u'+' || u == u'-')) {
            if (u == u'-')
                number.push_back('-');
            signAllowed = false;
            continue;
        }
        signAllowed = false;
        if (u >= u'0' && u <= u'9') {
            number.push_back(char(u));
            seenDigit = true;
            if (!seenPoint && u != u'0')
                nonZeroBeforePoint = true;
        } else if (u == u'.' && !seenPoint) {
            number.push_back('.');
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit)
        return 0.0;

    double value = 0.0;
    const char *first = number.data();
    const char *last = first + number.size();
    const bool negative = *first == '-';
    if (negative)
        ++first;
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::fixed);
    if (ec == std::errc::result_out_of_range) {
        // A huge integer part overflows; a long run of zeros after the point underflows.
        value = nonZeroBeforePoint ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc()) {
        return 0.0;
    }
    if (value == 0.0)
        return 0.0;  // never -0
    return negative ? -value : value;
}

std::optional<std::uint8_t> portNumberFromText(const QString &text)
{
    const double v = readLeadingNumber(funCleanText(text));
    if (!std::isfinite(v))
        return std::nullopt;
    // Half to even, done by hand so the floating-point rounding mode cannot matter.
    double rounded = std::floor(v);
    const double fraction = v - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0))
        rounded += 1.0;
    if (rounded < 0.0 || rounded > 255.0)
        return std::nullopt;
    return static_cast<std::uint8_t>(rounded);
}

bool progModeFromText(const QString &text)
{
    return readLeadingNumber(funCleanText(text)) == 1.0;
}
