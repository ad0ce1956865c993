#include "media/MovieLayout.h"

#include <QFile>
#include <algorithm>
#include <cstdint>
#include <optional>

namespace tovix::media {
namespace {

// A movie box larger than this is not one the muxer wrote for a movie.
constexpr qint64 kMaxMovieBox = qint64(1) << 30;
constexpr qint64 kShiftChunk = qint64(8) << 20;

quint64 readBig(const QByteArray& bytes, qsizetype at, int size) {
  quint64 value = 0;
  for (int i = 0; i < size; ++i) value = (value << 8) | quint8(bytes[at + i]);
  return value;
}

QByteArray big(quint64 value, int size) {
  QByteArray bytes(size, '\0');
  for (int i = size - 1; i >= 0; --i, value >>= 8) bytes[i] = char(value & 0xff);
  return bytes;
}

// A box of the movie box: the boxes that hold boxes are opened, the others
// kept as their bytes.
struct Box {
  QByteArray type;
  QByteArray body;
  std::vector<Box> children;
  bool container = false;

  Box* child(const char* name) {
    auto found = std::find_if(children.begin(), children.end(), [&](const Box& box) { return box.type == name; });
    return found == children.end() ? nullptr : &*found;
  }
};

bool holdsBoxes(const QByteArray& type) {
  return type == "moov" || type == "trak" || type == "mdia" || type == "minf" || type == "stbl";
}

std::optional<std::vector<Box>> parse(const QByteArray& bytes, qsizetype from, qsizetype to) {
  std::vector<Box> boxes;
  while (from < to) {
    if (to - from < 8) return std::nullopt;
    const qsizetype size = qsizetype(readBig(bytes, from, 4));
    if (size < 8 || size > to - from) return std::nullopt;  // 64-bit sizes are not used inside a movie box
    Box box{bytes.mid(from + 4, 4), {}, {}, holdsBoxes(bytes.mid(from + 4, 4))};
    if (box.container) {
      auto children = parse(bytes, from + 8, from + size);
      if (!children) return std::nullopt;
      box.children = std::move(*children);
    } else {
      box.body = bytes.mid(from + 8, size - 8);
    }
    boxes.push_back(std::move(box));
    from += size;
  }
  return boxes;
}

QByteArray serialize(const Box& box) {
  QByteArray payload = box.body;
  for (const Box& child : box.children) payload += serialize(child);
  return big(quint64(payload.size()) + 8, 4) + box.type + payload;
}

int trackIdOf(Box& trak) {
  const Box* header = trak.child("tkhd");
  if (!header || header->body.size() < 24) return -1;
  return int(readBig(header->body, header->body[0] == 1 ? 20 : 12, 4));
}

QByteArray handlerOf(Box& trak) {
  Box* media = trak.child("mdia");
  const Box* handler = media ? media->child("hdlr") : nullptr;
  return handler && handler->body.size() >= 12 ? handler->body.mid(8, 4) : QByteArray();
}

void turnOffSubtitles(Box& movie) {
  for (Box& trak : movie.children) {
    const QByteArray handler = trak.type == "trak" ? handlerOf(trak) : QByteArray();
    if (handler != "sbtl" && handler != "text") continue;
    if (Box* header = trak.child("tkhd"); header && header->body.size() >= 4)
      header->body[3] = char(header->body[3] & ~0x01);  // the flags' lowest bit: enabled
  }
}

// A 'fall' reference, in the track's reference box, placed before its media.
void addFallback(Box& movie, int track, int fallback) {
  for (Box& trak : movie.children) {
    if (trak.type != "trak" || trackIdOf(trak) != track) continue;
    const QByteArray reference = big(12, 4) + "fall" + big(quint64(fallback), 4);
    if (Box* references = trak.child("tref")) {
      references->body += reference;
      return;
    }
    const auto media = std::find_if(trak.children.begin(), trak.children.end(), [](const Box& box) { return box.type == "mdia"; });
    trak.children.insert(media, Box{"tref", reference, {}, false});
    return;
  }
}

std::vector<Box*> chunkOffsetBoxes(Box& movie) {
  std::vector<Box*> found;
  for (Box& trak : movie.children) {
    Box* media = trak.type == "trak" ? trak.child("mdia") : nullptr;
    Box* information = media ? media->child("minf") : nullptr;
    Box* table = information ? information->child("stbl") : nullptr;
    if (!table) continue;
    for (Box& box : table->children)
      if (box.type == "stco" || box.type == "co64") found.push_back(&box);
  }
  return found;
}

// Moves every chunk the movie box points at by shift bytes; 32-bit tables
// whose offsets would no longer fit become 64-bit ones, which makes the
// movie box larger: shift is then what it finally is.
bool moveChunks(Box& movie, qint64& shift) {
  const auto entries = [](const Box& box) { return box.body.size() >= 8 ? qsizetype(readBig(box.body, 4, 4)) : -1; };
  for (Box* box : chunkOffsetBoxes(movie)) {
    const int width = box->type == "co64" ? 8 : 4;
    if (entries(*box) < 0 || box->body.size() < 8 + entries(*box) * width) return false;
  }
  shift = serialize(movie).size();
  for (Box* box : chunkOffsetBoxes(movie)) {
    if (box->type != "stco") continue;
    bool fits = true;
    for (qsizetype i = 0; i < entries(*box); ++i) fits &= readBig(box->body, 8 + i * 4, 4) + quint64(shift) <= UINT32_MAX;
    if (fits) continue;
    QByteArray wide = box->body.left(8);
    for (qsizetype i = 0; i < entries(*box); ++i) wide += big(readBig(box->body, 8 + i * 4, 4), 8);
    *box = Box{"co64", wide, {}, false};
  }
  shift = serialize(movie).size();
  for (Box* box : chunkOffsetBoxes(movie)) {
    const int width = box->type == "co64" ? 8 : 4;
    for (qsizetype i = 0; i < entries(*box); ++i) {
      const qsizetype at = 8 + i * width;
      box->body.replace(at, width, big(readBig(box->body, at, width) + quint64(shift), width));
    }
  }
  return true;
}

// The top-level boxes' places: [start, end) and type.
struct Place {
  QByteArray type;
  qint64 start, end;
};

std::optional<std::vector<Place>> topLevel(QFile& file) {
  std::vector<Place> places;
  const qint64 size = file.size();
  for (qint64 at = 0; at < size;) {
    if (!file.seek(at)) return std::nullopt;
    const QByteArray header = file.read(16);
    if (header.size() < 8) return std::nullopt;
    quint64 length = readBig(header, 0, 4);
    if (length == 1 && header.size() == 16) length = readBig(header, 8, 8);
    else if (length == 0) length = quint64(size - at);
    if (length < 8 || length > quint64(size - at)) return std::nullopt;
    places.push_back({header.mid(4, 4), at, at + qint64(length)});
    at += qint64(length);
  }
  return places;
}

// Moves [from, to) of the file by shift bytes towards its end, the last
// bytes first so that nothing is overwritten before it is read.
bool shiftBytes(QFile& file, qint64 from, qint64 to, qint64 shift) {
  for (qint64 end = to; end > from;) {
    const qint64 length = std::min(kShiftChunk, end - from);
    end -= length;
    if (!file.seek(end)) return false;
    const QByteArray chunk = file.read(length);
    if (chunk.size() != length || !file.seek(end + shift) || file.write(chunk) != length) return false;
  }
  return true;
}

}  // namespace

bool finishMovieFile(const QString& path, const MovieTouches& touches) {
  QFile file(path);
  if (!file.open(QIODevice::ReadWrite)) return false;
  const auto places = topLevel(file);
  if (!places || places->size() < 2) return false;
  const Place& first = places->front();
  const Place& last = places->back();
  if (first.type != "ftyp" || last.type != "moov" || last.end - last.start > kMaxMovieBox) return false;
  if (!file.seek(last.start)) return false;
  const QByteArray bytes = file.read(last.end - last.start);
  auto boxes = bytes.size() == last.end - last.start ? parse(bytes, 0, bytes.size()) : std::nullopt;
  if (!boxes || boxes->size() != 1) return false;
  Box& movie = boxes->front();
  turnOffSubtitles(movie);
  for (const auto& [track, fallback] : touches.fallbacks) addFallback(movie, track, fallback);
  qint64 shift = 0;
  if (!moveChunks(movie, shift)) return false;
  const QByteArray written = serialize(movie);
  return shiftBytes(file, first.end, last.start, shift) && file.seek(first.end) && file.write(written) == shift &&
         file.resize(last.start + shift) && file.flush();
}

}  // namespace tovix::media
