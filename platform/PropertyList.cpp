#include "platform/PropertyList.h"

#include <plist/plist.h>

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QTimeZone>
#include <cstdlib>
#include <memory>

namespace tovix::plist {
namespace {

// The largest file accepted as a property list; protects against a hostile
// or runaway file exhausting memory.
constexpr qint64 kMaxDocumentBytes = 64 * 1024 * 1024;

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

}  // namespace

std::optional<QVariant> parse(const QByteArray& document) {
  if (document.isEmpty() || document.size() > kMaxDocumentBytes) return std::nullopt;
  plist_t raw = nullptr;
  plist_from_memory(document.constData(), static_cast<uint32_t>(document.size()), &raw);
  Node root(raw);
  if (!root) return std::nullopt;
  QVariant value = fromNode(root.get());
  if (!value.isValid()) return std::nullopt;
  return value;
}

std::optional<QVariant> readFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxDocumentBytes) return std::nullopt;
  return parse(file.read(kMaxDocumentBytes + 1));
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
