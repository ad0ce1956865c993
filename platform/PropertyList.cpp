#include "platform/PropertyList.h"

#include <plist/plist.h>

#include <QDateTime>
#include <QFile>
#include <QBuffer>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QTimeZone>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tovix::plist {
namespace {

// Seconds between the Unix epoch and the property-list epoch (2001-01-01).
constexpr qint64 kPlistEpochOffset = 978307200;

struct NodeFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, NodeFree>;

QVariant fromNode(plist_t node);

QVariant fromDict(plist_t node) {
  QVariantMap map;
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(node, &it);
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(node, it, &key, &value);
    if (!key) break;
    QVariant converted = fromNode(value);
    if (converted.isValid()) map.insert(QString::fromUtf8(key), converted);
    std::free(key);
  }
  std::free(it);
  return map;
}

QVariant fromArray(plist_t node) {
  QVariantList list;
  const uint32_t size = plist_array_get_size(node);
  list.reserve(static_cast<qsizetype>(size));
  for (uint32_t i = 0; i < size; ++i) {
    QVariant converted = fromNode(plist_array_get_item(node, i));
    if (converted.isValid()) list.append(converted);
  }
  return list;
}

QVariant fromNode(plist_t node) {
  switch (plist_get_node_type(node)) {
    case PLIST_DICT:
      return fromDict(node);
    case PLIST_ARRAY:
      return fromArray(node);
    case PLIST_STRING: {
      char* text = nullptr;
      plist_get_string_val(node, &text);
      QString value = QString::fromUtf8(text ? text : "");
      std::free(text);
      return value;
    }
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return bool(value);
    }
    case PLIST_UINT: {
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      return static_cast<qlonglong>(value);
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      return value;
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      QByteArray value(bytes, static_cast<qsizetype>(length));
      std::free(bytes);
      return value;
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return QDateTime::fromMSecsSinceEpoch((kPlistEpochOffset + sec) * 1000 + usec / 1000,
                                            QTimeZone::utc());
    }
    default:
      return {};
  }
}

plist_t toNode(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::QVariantMap: {
      plist_t dict = plist_new_dict();
      const QVariantMap map = value.toMap();
      for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (plist_t child = toNode(it.value()))
          plist_dict_set_item(dict, it.key().toUtf8().constData(), child);
      }
      return dict;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
      plist_t array = plist_new_array();
      for (const QVariant& item : value.toList()) {
        if (plist_t child = toNode(item)) plist_array_append_item(array, child);
      }
      return array;
    }
    case QMetaType::QString:
      return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::Bool:
      return plist_new_bool(value.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
      return plist_new_real(value.toDouble());
    case QMetaType::QByteArray: {
      const QByteArray bytes = value.toByteArray();
      return plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size()));
    }
    case QMetaType::QDateTime: {
      const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kPlistEpochOffset * 1000;
      return plist_new_date(static_cast<int32_t>(ms / 1000), static_cast<int32_t>(ms % 1000) * 1000);
    }
    default:
      return nullptr;
  }
}

// The same check for the binary form, walking its object table without
// recursion; a reference cycle counts as too deep.
class BinaryDepthCheck {
 public:
  explicit BinaryDepthCheck(const QByteArray& document) : doc_(document) {}

  bool nestsTooDeep() {
    constexpr qsizetype kTrailer = 32;
    if (doc_.size() < 8 + kTrailer) return false;  // the parser refuses it anyway
    const qsizetype trailer = doc_.size() - kTrailer;
    offsetSize_ = quint8(doc_.at(trailer + 6));
    refSize_ = quint8(doc_.at(trailer + 7));
    objects_ = number(trailer + 8, 8);
    const quint64 top = number(trailer + 16, 8);
    offsetTable_ = number(trailer + 24, 8);
    if (offsetSize_ == 0 || offsetSize_ > 8 || refSize_ == 0 || refSize_ > 8 || top >= objects_ ||
        objects_ > quint64(doc_.size()) || offsetTable_ + objects_ * offsetSize_ > quint64(trailer))
      return false;
    return walk(top);
  }

 private:
  quint64 number(quint64 at, int bytes) const {
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | quint8(doc_.at(qsizetype(at) + i));
    return value;
  }
  bool inDocument(quint64 at, quint64 bytes) const { return at <= quint64(doc_.size()) && bytes <= quint64(doc_.size()) - at; }

  // The references held by object index: its children; nullopt for scalars.
  std::optional<std::vector<quint64>> children(quint64 index) const {
    const quint64 at = number(offsetTable_ + index * offsetSize_, offsetSize_);
    if (!inDocument(at, 1)) return {};
    const quint8 marker = quint8(doc_.at(qsizetype(at)));
    const int kind = marker >> 4;
    if (kind != 0xA && kind != 0xB && kind != 0xC && kind != 0xD) return std::nullopt;
    quint64 count = marker & 0xF;
    quint64 refs = at + 1;
    if (count == 0xF) {
      if (!inDocument(at + 1, 1)) return {};
      const int bytes = 1 << (quint8(doc_.at(qsizetype(at + 1))) & 0x3);
      if (!inDocument(at + 2, bytes)) return {};
      count = number(at + 2, bytes);
      refs = at + 2 + bytes;
    }
    if (kind == 0xD) count *= 2;
    if (count > objects_ * 2 || !inDocument(refs, count * refSize_)) return {};
    std::vector<quint64> found;
    found.reserve(count);
    for (quint64 i = 0; i < count; ++i) found.push_back(number(refs + i * refSize_, refSize_));
    return found;
  }

  bool walk(quint64 top) {
    enum : quint8 { Unseen, Open, Done };
    std::vector<quint8> state(objects_, Unseen);
    std::vector<std::pair<std::vector<quint64>, size_t>> path;  // children, next child
    state[top] = Open;
    path.push_back({children(top).value_or(std::vector<quint64>()), 0});
    while (!path.empty()) {
      auto& [kids, next] = path.back();
      if (next == kids.size()) {
        path.pop_back();
        continue;
      }
      const quint64 child = kids[next++];
      if (child >= objects_ || state[child] == Done) continue;
      if (state[child] == Open) return true;
      state[child] = Open;
      std::optional<std::vector<quint64>> grandchildren = children(child);
      if (!grandchildren) {
        state[child] = Done;
        continue;
      }
      // Every array or dictionary is a level, an empty one too.
      if (int(path.size()) + 1 > kMaxNestingDepth) return true;
      path.push_back({std::move(*grandchildren), 0});
    }
    return false;
  }

  const QByteArray& doc_;
  int offsetSize_ = 0;
  int refSize_ = 0;
  quint64 objects_ = 0;
  quint64 offsetTable_ = 0;
};


constexpr QByteArrayView kXmlArrayTail = "</array>\n</plist>\n";

// Reads the XML form as a stream, so a long file never stands in memory
// whole. Nesting is bounded, and anything after the document (a second
// document, stray bytes) makes it unreadable, as a damaged file would.
class XmlReader {
 public:
  explicit XmlReader(QIODevice* device) : xml_(device) {}

  // The document's value; with onItem, the items of its top-level array go
  // to onItem one by one instead (it answers false to stop the reading).
  std::optional<QVariant> read(const ItemHandler* onItem) {
    if (!nextElement() || xml_.name() != u"plist" || !nextElement()) return std::nullopt;
    std::optional<QVariant> value = onItem ? streamArray(*onItem) : readValue(1);
    if (!value || nextElement() || xml_.name() != u"plist") return std::nullopt;
    while (!xml_.atEnd()) xml_.readNext();
    if (xml_.hasError()) return std::nullopt;
    return value;
  }
  bool cancelled() const { return cancelled_; }

 private:
  // Moves to the next start or end tag; answers whether it is a start tag.
  bool nextElement() {
    while (!xml_.atEnd()) {
      xml_.readNext();
      if (xml_.isStartElement()) return true;
      if (xml_.isEndElement()) return false;
    }
    return false;
  }

  std::optional<QVariant> streamArray(const ItemHandler& onItem) {
    if (xml_.name() != u"array") return std::nullopt;
    while (nextElement()) {
      std::optional<QVariant> item = readValue(2);
      if (!item) return std::nullopt;
      if (!onItem(*item)) {
        cancelled_ = true;
        return std::nullopt;
      }
    }
    if (xml_.hasError()) return std::nullopt;
    return QVariant(QVariantList());
  }

  std::optional<QVariant> readValue(int depth) {
    if (depth > kMaxNestingDepth) return std::nullopt;
    const QStringView name = xml_.name();
    if (name == u"dict") return readDict(depth);
    if (name == u"array") return readArray(depth);
    const QString text = xml_.readElementText();
    if (xml_.hasError()) return std::nullopt;
    bool ok = true;
    QVariant value;
    if (name == u"string") value = text;
    else if (name == u"integer") value = text.trimmed().toLongLong(&ok);
    else if (name == u"real") value = text.trimmed().toDouble(&ok);
    else if (name == u"true" || name == u"false") value = name == u"true";
    else if (name == u"data") value = QByteArray::fromBase64(text.toLatin1());
    else if (name == u"date") value = QDateTime::fromString(text.trimmed(), Qt::ISODate).toUTC();
    else return std::nullopt;
    if (!ok) return std::nullopt;
    return value;
  }

  std::optional<QVariant> readDict(int depth) {
    QVariantMap map;
    while (nextElement()) {
      if (xml_.name() != u"key") return std::nullopt;
      const QString key = xml_.readElementText();
      if (xml_.hasError() || !nextElement()) return std::nullopt;
      std::optional<QVariant> value = readValue(depth + 1);
      if (!value) return std::nullopt;
      map.insert(key, *value);
    }
    if (xml_.hasError()) return std::nullopt;
    return map;
  }

  std::optional<QVariant> readArray(int depth) {
    QVariantList list;
    while (nextElement()) {
      std::optional<QVariant> item = readValue(depth + 1);
      if (!item) return std::nullopt;
      list.append(*item);
    }
    if (xml_.hasError()) return std::nullopt;
    return list;
  }

  QXmlStreamReader xml_;
  bool cancelled_ = false;
};

// Parses the binary form; nullopt when it is not one or nests too deep.
std::optional<QVariant> parseBinary(const QByteArray& document) {
  if (document.size() > kMaxDocumentBytes || BinaryDepthCheck(document).nestsTooDeep()) return std::nullopt;
  plist_t raw = nullptr;
  plist_from_memory(document.constData(), static_cast<uint32_t>(document.size()), &raw);
  Node root(raw);
  if (!root) return std::nullopt;
  QVariant value = fromNode(root.get());
  if (!value.isValid()) return std::nullopt;
  return value;
}

constexpr QByteArrayView kBinaryMagic = "bplist";

// Opens the regular file at path for reading (a FIFO or device is never
// opened, nor a file too large to be a store); sets status when it cannot.
std::unique_ptr<QFile> openRegular(const QString& path, ReadStatus& status) {
  const QByteArray name = QFile::encodeName(path);
  // Non-blocking, so a FIFO put in the file's place cannot hang the open.
  const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Unreadable;
    return nullptr;
  }
  auto file = std::make_unique<QFile>();
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!regular || info.st_size > kMaxDocumentBytes || info.st_size == 0 ||
      !file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    if (!file->isOpen()) ::close(fd);
    status = ReadStatus::Unreadable;
    return nullptr;
  }
  return file;
}

}  // namespace

std::optional<QVariant> parse(const QByteArray& document) {
  if (document.isEmpty()) return std::nullopt;
  if (document.startsWith(kBinaryMagic)) return parseBinary(document);
  QBuffer buffer;
  buffer.setData(document);
  buffer.open(QIODevice::ReadOnly);
  return XmlReader(&buffer).read(nullptr);
}

ReadResult readFile(const QString& path) {
  ReadStatus status = ReadStatus::Read;
  const auto file = openRegular(path, status);
  if (!file) return {status, {}};
  std::optional<QVariant> value;
  if (file->peek(kBinaryMagic.size()) == kBinaryMagic)
    value = parseBinary(file->readAll());
  else
    value = XmlReader(file.get()).read(nullptr);
  if (!value) return {ReadStatus::Unreadable, {}};
  return {ReadStatus::Read, *value};
}

ReadStatus readArrayFile(const QString& path, const ItemHandler& onItem) {
  ReadStatus status = ReadStatus::Read;
  const auto file = openRegular(path, status);
  if (!file) return status;
  if (file->peek(kBinaryMagic.size()) == kBinaryMagic) {
    const std::optional<QVariant> value = parseBinary(file->readAll());
    if (!value || value->typeId() != QMetaType::QVariantList) return ReadStatus::Unreadable;
    for (const QVariant& item : value->toList()) {
      if (!onItem(item)) return ReadStatus::Cancelled;
    }
    return ReadStatus::Read;
  }
  XmlReader reader(file.get());
  if (reader.read(&onItem)) return ReadStatus::Read;
  return reader.cancelled() ? ReadStatus::Cancelled : ReadStatus::Unreadable;
}

QByteArray toXml(const QVariant& value) {
  Node root(toNode(value));
  if (!root) return {};
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root.get(), &xml, &length);
  QByteArray document(xml, static_cast<qsizetype>(length));
  plist_to_xml_free(xml);
  return document;
}

QByteArray xmlArrayElement(const QVariant& value) {
  const QByteArray document = toXml(QVariantList{value});
  const QByteArray head = "<array>\n";
  const qsizetype start = document.indexOf(head);
  const qsizetype end = document.lastIndexOf(kXmlArrayTail.toByteArray());
  if (start < 0 || end < start) return {};
  return document.mid(start + head.size(), end - start - head.size());
}

bool appendToXmlArrayFile(const QString& path, const QVariant& value) {
  const QByteArray element = xmlArrayElement(value);
  if (element.isEmpty()) return false;
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool appended = false;
  const qint64 tailSize = kXmlArrayTail.size();
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > tailSize) {
    const off_t tailAt = info.st_size - tailSize;
    QByteArray tail(tailSize, '\0');
    if (::pread(fd, tail.data(), tailSize, tailAt) == tailSize && tail == kXmlArrayTail) {
      const QByteArray addition = element + kXmlArrayTail.toByteArray();
      appended = ::pwrite(fd, addition.constData(), addition.size(), tailAt) == addition.size();
      if (!appended) {
        // A short write (a full disk) is undone, so the file stays whole.
        ::ftruncate(fd, info.st_size);
        ::pwrite(fd, tail.constData(), tailSize, tailAt);
      }
    }
  }
  ::close(fd);
  return appended;
}

bool writeXmlArrayFile(const QString& path, qsizetype count, const std::function<QVariant(qsizetype)>& itemAt) {
  if (count == 0) return writeXmlFile(path, QVariantList());
  const QByteArray sample = toXml(QVariantList{QString()});
  const QByteArray head = sample.left(sample.indexOf("<array>\n") + 8);
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(head) != head.size()) return false;
  for (qsizetype i = 0; i < count; ++i) {
    const QByteArray element = xmlArrayElement(itemAt(i));
    if (element.isEmpty() || file.write(element) != element.size()) {
      file.cancelWriting();
      return false;
    }
  }
  if (file.write(kXmlArrayTail.toByteArray()) != kXmlArrayTail.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

bool writeXmlFile(const QString& path, const QVariant& value) {
  const QByteArray document = toXml(value);
  if (document.isEmpty()) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  if (file.write(document) != document.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

}  // namespace tovix::plist
