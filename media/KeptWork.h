#pragma once
// The finished pieces of a converted picture, kept in a folder of their own
// so that an interrupted export goes on from where it stopped: each piece is
// written, flushed to disk and only then recorded in a small manifest, which
// is replaced atomically. Pieces are taken back only while they are whole
// and were made for the same source, target and settings.
// Only media/ includes this header.
extern "C" {
#include <libavcodec/packet.h>
}

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QString>
#include <vector>

namespace tovix::media {

class KeptWork {
 public:
  // Opens the work in folder made under identity (a digest of everything
  // the pieces depend on). The first piece that is missing, short or
  // damaged, and every piece after it, is dropped; so is all of it when the
  // identity differs or the manifest cannot be read. why says what was
  // dropped and why; empty when nothing was.
  KeptWork(QString folder, QByteArray identity, QString& why);

  int piecesDone() const { return int(pieces_.size()); }
  QString piecePath(int index) const;
  // Records the piece written at piecePath(piecesDone()), already flushed
  // to disk, as done with its size and checksum. False when the record
  // could not be kept; the piece is then dropped.
  bool commit(qint64 bytes, const QByteArray& sha256);
  // Drops a piece that was being written when the export stopped.
  void dropUnfinished();
  // Removes the folder and everything in it.
  void discard();

 private:
  struct Piece {
    qint64 bytes = 0;
    QByteArray sha256;
  };
  bool readManifest(QString& why);
  bool writeManifest() const;

  QString folder_;
  QByteArray identity_;
  std::vector<Piece> pieces_;
};

// A piece file: the encoded picture's packets with their times, in the
// encoder's time base.
class PieceWriter {
 public:
  explicit PieceWriter(const QString& path);
  bool ok() const { return ok_; }
  void write(const AVPacket* packet);
  // Flushes it to disk; false when any write failed.
  bool close();
  // What was written, for the manifest: counted and hashed on the way.
  qint64 bytes() const { return bytes_; }
  QByteArray sha256() const { return hash_.result().toHex(); }

 private:
  void append(const char* data, qint64 size);

  QFile file_;
  QCryptographicHash hash_{QCryptographicHash::Sha256};
  qint64 bytes_ = 0;
  bool ok_ = false;
};

class PieceReader {
 public:
  explicit PieceReader(const QString& path);
  bool ok() const { return ok_; }
  // The next packet into packet (unreferenced first); false at the end or
  // on a damaged record.
  bool next(AVPacket* packet);

 private:
  QFile file_;
  bool ok_ = false;
};

// Whole folders of kept work untouched for this many days are removed
// (removeStaleKeptWork, Exporter.h).
inline constexpr int kKeptWorkDays = 30;

}  // namespace tovix::media
