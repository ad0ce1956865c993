#pragma once
// Property lists: read from any form libplist understands (XML or binary),
// written as XML with an atomic replace of the whole file.
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>

namespace tovix::plist {

// Parses a property list document; nullopt when it is not one.
std::optional<QVariant> parse(const QByteArray& document);

// Reads and parses the file at path; nullopt when it is missing, too large,
// unreadable or not a property list.
std::optional<QVariant> readFile(const QString& path);

// The XML form of value (strings, booleans, integers, reals, data, dates,
// lists and string-keyed maps); values of other types are left out.
QByteArray toXml(const QVariant& value);

// Writes the XML form of value to path; a reader sees either the old file or
// the complete new one. Returns whether the file was replaced.
bool writeXmlFile(const QString& path, const QVariant& value);

}  // namespace tovix::plist
