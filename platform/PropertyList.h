#pragma once
// Property lists: read in the XML form (as a stream) or the binary form,
// written as XML with an atomic replace of the whole file.
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <functional>
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

// What reading a file found; Cancelled when the reader was told to stop.
enum class ReadStatus { Read, Missing, Unreadable, Cancelled };
struct ReadResult {
  ReadStatus status;
  QVariant value;  // when read
};

// Reads and parses the regular file at path (a FIFO or device is never
// opened for reading): Missing when nothing is there, Unreadable when it is
// empty, too large, not a regular file, unreadable, not a property list, or
// followed by anything but white space.
ReadResult readFile(const QString& path);

// Reads the top-level array of the property list file at path one item at a
// time, handing each to onItem; onItem answers false to stop (Cancelled).
// A file whose root is no array is Unreadable. Items already handed out stay
// handed out when the file turns out unreadable further on.
using ItemHandler = std::function<bool(const QVariant& item)>;
ReadStatus readArrayFile(const QString& path, const ItemHandler& onItem);

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

// The same for an array of count items, each made by itemAt only when it is
// written, so a long list never stands in memory as one value.
bool writeXmlArrayFile(const QString& path, qsizetype count, const std::function<QVariant(qsizetype)>& itemAt);

}  // namespace tovix::plist
