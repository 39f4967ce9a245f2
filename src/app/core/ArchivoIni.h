#pragma once
// The program's configuration file: read-only, INI format, beside the executable.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

inline constexpr const char *IniFileName = "BootLoaderTorvexII.ini";

// Drops every CR, LF, NUL and STX, wherever it stands.
QString funCleanText(const QString &text);

// Value of `key` in `section` of directory/fileName, cleaned; "" when the file,
// section or key is missing. Names match regardless of letter case; the first
// matching key wins; the value is cut to 254 characters before cleaning.
// Bytes are taken one-to-one as characters (Latin-1). Reads the file anew
// every call.
QString funReadIni(const QString &directory, const QString &fileName,
                   const QString &section, const QString &key);

// The bytes of directory/fileName; empty when it is missing, not a regular
// file or unreadable.
QByteArray readIniFile(const QString &directory, const QString &fileName);

// The same lookup on a file's content already in memory; funReadIni reads the
// file and hands its bytes here.
QString readIniValue(const QByteArray &content, const QString &section, const QString &key);

// The leading number of a text: blanks, tabs and line feeds skipped anywhere,
// optional sign, digits, at most one '.'; stops at the first other character;
// no number at all reads as 0.
double readLeadingNumber(const QString &text);

// Port number: leading number rounded half to even; nullopt outside 0..255.
std::optional<std::uint8_t> portNumberFromText(const QString &text);

// Programming mode: on only when the leading number is exactly 1.
bool progModeFromText(const QString &text);
