#pragma once
// File names as the programs meet them: decoded from bytes that may not be
// UTF-8, and images that must be plain files of a size the protocol counts.

#include <QString>
#include <QtGlobal>
#include <optional>

// False for a path that came from bytes that are not valid UTF-8: the
// decoded name would no longer name that file, and may name another one.
bool pathIsExact(const QString &path);

// Size of a regular file that fits a signed 32-bit length; nullopt otherwise.
std::optional<qint64> imageFileSize(const QString &path);
