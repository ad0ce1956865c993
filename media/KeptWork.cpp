#include "media/KeptWork.h"

#include "media/Exporter.h"

#include "platform/Paths.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tovix::media {
namespace {

constexpr char kPieceMagic[] = "TOVIXPC1";
constexpr qint64 kMagicSize = 8;
constexpr const char* kManifestName = "manifest.json";
// A record's size field beyond this is damage, not a packet.
constexpr qint32 kMaxPacketBytes = 256 << 20;

struct RecordHeader {
  qint64 pts;
  qint64 dts;
  qint64 duration;
  qint32 flags;
  qint32 size;
};

bool syncFolder(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

QByteArray sha256Of(const QString& path) {
  QFile file(path);
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) return {};
  return hash.result().toHex();
}

}  // namespace

KeptWork::KeptWork(QString folder, QByteArray identity, QString& why)
    : folder_(std::move(folder)), identity_(std::move(identity)) {
  why.clear();
  if (!readManifest(why)) {
    discard();
    pieces_.clear();
  }
  QDir().mkpath(folder_);
  dropUnfinished();
}

QString KeptWork::piecePath(int index) const { return folder_ + QStringLiteral("/piece-%1").arg(index, 5, 10, QChar(u'0')); }

// Takes the pieces the manifest lists while each is whole; false when none
// of the work can be used.
bool KeptWork::readManifest(QString& why) {
  QFile file(folder_ + u'/' + QLatin1String(kManifestName));
  if (!file.exists()) return false;
  if (!file.open(QIODevice::ReadOnly)) {
    why = QStringLiteral("its record cannot be read");
    return false;
  }
  const QJsonObject manifest = QJsonDocument::fromJson(file.read(1 << 20)).object();
  if (manifest.value(QStringLiteral("identity")).toString().toLatin1() != identity_) {
    why = manifest.isEmpty() ? QStringLiteral("its record is damaged")
                             : QStringLiteral("the movie, the target or the settings changed");
    return false;
  }
  for (const QJsonValue& value : manifest.value(QStringLiteral("pieces")).toArray()) {
    const Piece piece{qint64(value.toObject().value(QStringLiteral("bytes")).toDouble()),
                      value.toObject().value(QStringLiteral("sha256")).toString().toLatin1()};
    const QString path = piecePath(piecesDone());
    if (QFileInfo(path).size() != piece.bytes || sha256Of(path) != piece.sha256) {
      why = QStringLiteral("piece %1 is not whole").arg(piecesDone() + 1);
      break;
    }
    pieces_.push_back(piece);
  }
  // What follows the last whole piece is made again.
  if (!why.isEmpty() && !writeManifest()) return false;
  return true;
}

bool KeptWork::writeManifest() const {
  QJsonArray pieces;
  for (const Piece& piece : pieces_)
    pieces.append(QJsonObject{{QStringLiteral("bytes"), double(piece.bytes)},
                              {QStringLiteral("sha256"), QString::fromLatin1(piece.sha256)}});
  const QByteArray text =
      QJsonDocument(QJsonObject{{QStringLiteral("identity"), QString::fromLatin1(identity_)},
                                {QStringLiteral("pieces"), pieces}})
          .toJson(QJsonDocument::Compact);
  const QString path = folder_ + u'/' + QLatin1String(kManifestName);
  const QString temporary = path + QStringLiteral(".new");
  QFile file(temporary);
  const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size() &&
                       file.flush() && ::fsync(file.handle()) == 0;
  file.close();
  if (!written || ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
    QFile::remove(temporary);
    return false;
  }
  return syncFolder(folder_);
}

bool KeptWork::commit(qint64 bytes, const QByteArray& sha256) {
  const QString path = piecePath(piecesDone());
  pieces_.push_back({bytes, sha256});
  if (writeManifest()) return true;
  pieces_.pop_back();
  QFile::remove(path);
  return false;
}

void KeptWork::dropUnfinished() {
  // Every piece file past the recorded ones was under way, or left by an
  // older manifest.
  QDirIterator files(folder_, {QStringLiteral("piece-*")}, QDir::Files);
  while (files.hasNext()) {
    const QString path = files.next();
    const int index = QFileInfo(path).fileName().mid(6).toInt();
    if (index >= piecesDone()) QFile::remove(path);
  }
}

void KeptWork::discard() {
  if (paths::isKeptWorkName(QFileInfo(folder_).fileName())) QDir(folder_).removeRecursively();
}

PieceWriter::PieceWriter(const QString& path) : file_(path) {
  ok_ = file_.open(QIODevice::WriteOnly | QIODevice::Truncate);
  append(kPieceMagic, kMagicSize);
}

void PieceWriter::write(const AVPacket* packet) {
  const RecordHeader header{packet->pts, packet->dts, packet->duration, packet->flags, packet->size};
  append(reinterpret_cast<const char*>(&header), sizeof header);
  append(reinterpret_cast<const char*>(packet->data), packet->size);
}

void PieceWriter::append(const char* data, qint64 size) {
  ok_ = ok_ && file_.write(data, size) == size;
  hash_.addData(QByteArrayView(data, size));
  bytes_ += size;
}

bool PieceWriter::close() {
  ok_ = ok_ && file_.flush() && ::fsync(file_.handle()) == 0;
  file_.close();
  return ok_;
}

PieceReader::PieceReader(const QString& path) : file_(path) {
  char magic[kMagicSize];
  ok_ = file_.open(QIODevice::ReadOnly) && file_.read(magic, kMagicSize) == kMagicSize &&
        std::memcmp(magic, kPieceMagic, kMagicSize) == 0;
}

bool PieceReader::next(AVPacket* packet) {
  av_packet_unref(packet);
  RecordHeader header{};
  if (!ok_ || file_.read(reinterpret_cast<char*>(&header), sizeof header) != qint64(sizeof header)) return false;
  if (header.size <= 0 || header.size > kMaxPacketBytes || av_new_packet(packet, header.size) < 0 ||
      file_.read(reinterpret_cast<char*>(packet->data), header.size) != header.size) {
    ok_ = false;
    return false;
  }
  packet->pts = header.pts;
  packet->dts = header.dts;
  packet->duration = header.duration;
  packet->flags = header.flags;
  return true;
}

void removeStaleKeptWork() {
  const QDateTime oldest = QDateTime::currentDateTime().addDays(-kKeptWorkDays);
  const QDir root(paths::keptWorkRoot());
  for (const QFileInfo& folder : root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    if (paths::isKeptWorkName(folder.fileName()) && folder.lastModified() < oldest)
      QDir(folder.absoluteFilePath()).removeRecursively();
  }
}

}  // namespace tovix::media
