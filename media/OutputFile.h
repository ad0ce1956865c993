#pragma once
// Where an export's file goes: the hidden temporary file it is written to,
// and the free name it is moved to at the end, never replacing a file and
// always a name the folder takes (at most 255 bytes; in folders that refuse
// characters such as ":" or "?", those replaced).
#include <QString>
#include <optional>

namespace tovix::media {

// The longest file name in bytes that Linux file systems take.
inline constexpr qsizetype kMaxNameBytes = 255;

// output with " n" before its extension: "Trip_iPhone.m4v" gives
// "Trip_iPhone 2.m4v" for n = 2; n = 1 gives output itself.
QString numberedPath(const QString& output, int n);

// name cut at a character boundary before its last keptTail characters, so
// that it is at most kMaxNameBytes long in UTF-8; a short name unchanged.
QString fittedName(const QString& name, qsizetype keptTail);

// name with the characters FAT and exFAT folders refuse replaced by "_".
QString portableName(const QString& name);

// Moves from to the first free name among numberedPath(to, 1, 2, ...) without
// ever replacing a file, also when another writer takes a name meanwhile.
// A name too long is shortened before its last keptTail characters, and one
// the folder refuses is tried again with portableName(). Answers the name
// taken, or nullopt with errno set.
std::optional<QString> moveToFreeName(const QString& from, const QString& to, qsizetype keptTail = 0);

// The temporary file an export of output writes first: hidden, beside it,
// and always a name the folder takes.
QString temporaryOutputPath(const QString& output);

}  // namespace tovix::media
