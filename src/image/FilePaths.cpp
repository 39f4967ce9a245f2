#include "image/FilePaths.h"

#include <cstdint>
#include <filesystem>
#include <limits>

bool pathIsExact(const QString &path)
{
    return !path.contains(QChar(QChar::ReplacementCharacter));
}

std::optional<qint64> imageFileSize(const QString &path)
{
    // Only a regular file can be an image: opening a FIFO would block and a
    // device such as /dev/zero never ends.
    std::error_code ec;
    // UTF-16 converts to the native encoding on every platform, UTF-8 would not on Windows.
    const std::filesystem::path p(path.toStdU16String());
    if (path.isEmpty() || !pathIsExact(path) || !std::filesystem::is_regular_file(p, ec))
        return std::nullopt;
    const auto size = std::filesystem::file_size(p, ec);
    if (ec || size > std::uintmax_t(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return qint64(size);
}
