#pragma once
// Readers of the identification block at offsets 1024..1039 of a firmware image.

#include <QIODevice>
#include <QString>
#include <stdexcept>

struct ImageReadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline constexpr qint64 IdBlockOffset = 1024;

// Each reader seeks to its field itself, reads it one byte at a time and
// leaves the position just behind it (at the end of a file cut short). Bytes
// past the end of the file read as 0 (a NUL character); a device that is not
// readable, is sequential or fails to read throws ImageReadError.
// Bytes map one-to-one to characters (Latin-1).
QString funFileVersion(QIODevice &file);      // 8 characters at 1024
QString funFileModel(QIODevice &file);        // 3 characters at 1032
QString funFileBootVersion(QIODevice &file);  // 1 character at 1035
QString funFileTag(QIODevice &file);          // 4 characters at 1036
bool funIsLabVersion(QIODevice &file);        // tag is exactly "LABT"

inline constexpr const char *ServedModel = "KD7";

// What this updater makes of an image, in the order the checks are made.
enum class ImageVerdict {
    WrongModel,       // model code is not exactly "KD7"
    WrongBootLevel,   // boot-loader level character above '0'
    LabRefused,       // laboratory build while programming mode is off
    Accepted,
    AcceptedLab,      // laboratory build, programming mode on
};
ImageVerdict classifyImage(QIODevice &file, bool progMode);

// The message a refused verdict shows; empty for the accepted ones.
QString verdictMessage(ImageVerdict verdict);
