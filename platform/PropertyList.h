#pragma once
// Property lists: read from any form libplist understands (XML or binary),
// written as XML with an atomic replace of the whole file.
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>

namespace tovix::plist {

// The largest file accepted as a property list: far above a log of a million
// entries, and still a bound against a hostile or runaway file.
inline constexpr qint64 kMaxDocumentBytes = qint64(1) << 30;

// The deepest nesting of arrays and dictionaries accepted; a store file is two
// levels deep, and a deeper document could exhaust the stack of the parser.
inline constexpr int kMaxNestingDepth = 32;

// Parses a property list document; nullopt when it is not one, or when it
// nests deeper than kMaxNestingDepth.
std::optional<QVariant> parse(const QByteArray& document);

// What reading a file found.
enum class ReadStatus { Read, Missing, Unreadable };
struct ReadResult {
  ReadStatus status;
  QVariant value;  // when read
};

// Reads and parses the regular file at path (a FIFO or device is never
// opened for reading): Missing when nothing is there, Unreadable when it is
// too large, not a regular file, unreadable or not a property list.
ReadResult readFile(const QString& path);

// The XML element of one value as it stands inside a top-level array of
// toXml(), indentation included.
QByteArray xmlArrayElement(const QVariant& value);

// Appends value to the top-level array of the XML property list at path in
// place, without rewriting what is there. False, with the file unchanged,
// when the file does not end as toXml() ends a non-empty array.
bool appendToXmlArrayFile(const QString& path, const QVariant& value);

// The XML form of value (strings, booleans, integers, reals, data, dates,
// lists and string-keyed maps); values of other types are left out.
QByteArray toXml(const QVariant& value);

// Writes the XML form of value to path; a reader sees either the old file or
// the complete new one. Returns whether the file was replaced.
bool writeXmlFile(const QString& path, const QVariant& value);

}  // namespace tovix::plist
