// The movie-open test and movie attributes on clips made by the ffmpeg
// command line in several containers, and on files that are not movies.
#include "media/MediaProbe.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <sys/stat.h>

using namespace tovix;

namespace {

class MediaProbeTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new QTemporaryDir;
    const QStringList av = test::standardClipArguments(1.0);
    const QStringList tone{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=1"};
    ASSERT_FALSE(test::makeClip(path("clip.mov"), av + QStringList{"-c:v", "libx264", "-c:a", "aac",
                                                                  "-metadata", "copyright=(c) 2026 Tovix"}).isEmpty());
    ASSERT_FALSE(test::makeClip(path("clip.mp4"), av + QStringList{"-c:v", "libx264", "-c:a", "aac"}).isEmpty());
    ASSERT_FALSE(test::makeClip(path("clip.avi"), av + QStringList{"-c:v", "mpeg4", "-c:a", "libmp3lame"}).isEmpty());
    ASSERT_FALSE(test::makeClip(path("clip.mpg"), av + QStringList{"-c:v", "mpeg2video", "-c:a", "mp2"}).isEmpty());
    ASSERT_FALSE(test::makeClip(path("clip.flv"), av + QStringList{"-c:v", "flv1", "-c:a", "libmp3lame", "-ar", "44100"}).isEmpty());
    ASSERT_FALSE(test::makeClip(path("tone.wav"), tone).isEmpty());
    ASSERT_FALSE(test::makeClip(path("tone.mp3"), tone).isEmpty());
    test::writeFile(path("chapters.txt"), ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=500\ntitle=A\n"
                                          "[CHAPTER]\nTIMEBASE=1/1000\nSTART=500\nEND=1000\ntitle=B\n");
    ASSERT_FALSE(test::makeClip(path("film.mkv"), QStringList{"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30:duration=1",
                                                             "-f", "lavfi", "-i", "sine=sample_rate=48000:duration=1",
                                                             "-i", path("chapters.txt"), "-map", "0", "-map", "1",
                                                             "-map_chapters", "2", "-vf", "setfield=tff", "-pix_fmt", "yuv420p",
                                                                  "-c:v", "libx264", "-flags", "+ilme+ildct", "-c:a", "aac",
                                                                  "-metadata:s:a:0", "language=fre"}).isEmpty());
    ASSERT_FALSE(test::makeClip(path("telecined.mkv"), {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=24000/1001:duration=3,gblur=sigma=1.5",
                                                       "-vf", "telecine,setfield=prog", "-c:v", "libx264", "-pix_fmt", "yuv420p"}).isEmpty());
    ASSERT_FALSE(test::makeClip(path("scope.mp4"), {"-f", "lavfi", "-i", "testsrc2=size=320x134:rate=25:duration=1",
                                                   "-vf", "pad=320:180:0:22", "-c:v", "libx264", "-pix_fmt", "yuv420p"}).isEmpty());
  }
  static void TearDownTestSuite() { delete dir; }
  static QString path(const QString& name) { return dir->path() + "/" + name; }
  static QTemporaryDir* dir;
};
QTemporaryDir* MediaProbeTest::dir = nullptr;

}  // namespace

TEST_F(MediaProbeTest, OpensEveryGeneratedContainer) {
  for (const char* name : {"clip.mov", "clip.mp4", "clip.avi", "clip.mpg", "clip.flv", "tone.wav", "tone.mp3"}) {
    EXPECT_TRUE(media::canOpen(path(name))) << name;
    auto movie = media::Movie::open(path(name));
    ASSERT_TRUE(movie) << name;
    const media::MediaTime duration = movie->duration();
    EXPECT_NEAR(double(duration.value) / duration.scale, 1.0, 0.15) << name;
    EXPECT_EQ(movie->dataSize(), QFileInfo(path(name)).size()) << name;
    EXPECT_EQ(movie->displayName(), name);
  }
}

TEST_F(MediaProbeTest, DescribesTracksAndCopyright) {
  auto movie = media::Movie::open(path("clip.mov"));
  ASSERT_TRUE(movie);
  const auto tracks = movie->trackFormatSummaries();
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ(tracks[0], QString::fromUtf8("H.264, 160 × 120"));
  EXPECT_EQ(tracks[1], QString("AAC, Mono, 48.000 kHz"));
  EXPECT_EQ(movie->copyright(), QString("(c) 2026 Tovix"));
  EXPECT_EQ(media::Movie::open(path("clip.mp4"))->copyright(), std::nullopt);
  EXPECT_EQ(media::Movie::open(path("tone.mp3"))->trackFormatSummaries().front(),
            QString("MPEG Layer 3, Mono, 44.100 kHz"));
  auto film = media::Movie::open(path("film.mkv"));
  ASSERT_TRUE(film);
  EXPECT_EQ(film->trackFormatSummaries()[0], QString::fromUtf8("H.264, 160 × 120, interlaced"));
  EXPECT_EQ(film->trackFormatSummaries()[1], QString("AAC, Mono, 48.000 kHz (French)"));
  EXPECT_EQ(film->chapterCount(), 2);
  EXPECT_EQ(media::Movie::open(path("telecined.mkv"))->trackFormatSummaries()[0], QString::fromUtf8("H.264, 320 × 240, telecined film"));
  EXPECT_EQ(media::Movie::open(path("scope.mp4"))->trackFormatSummaries()[0],
            QString::fromUtf8("H.264, 320 × 180, black bars (cropped to 320 × 134)"));
}

TEST_F(MediaProbeTest, RefusesFilesThatAreNotMovies) {
  test::writeFile(path("fake.avi"), "This is a text file pretending to be a movie.\n");
  test::writeFile(path("empty.mp4"), "");
  QFile whole(path("clip.mp4"));
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
  const QByteArray bytes = whole.readAll();
  test::writeFile(path("truncated.mp4"), bytes.left(bytes.size() / 3));
  QByteArray noise(64 * 1024, '\0');
  for (int i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919 + 13) ^ (i >> 3));
  test::writeFile(path("noise.mov"), noise);
  QDir().mkpath(path("Holiday.mov"));
  ASSERT_EQ(mkfifo(path("pipe.mov").toLocal8Bit().constData(), 0600), 0);

  QElapsedTimer timer;
  timer.start();
  for (const char* name : {"fake.avi", "empty.mp4", "truncated.mp4", "noise.mov", "Holiday.mov", "pipe.mov", "missing.mov"}) {
    EXPECT_FALSE(media::canOpen(path(name))) << name;
  }
  EXPECT_EQ(media::Movie::open(path("fake.avi")), nullptr);
  EXPECT_LT(timer.elapsed(), 20000) << "refusing must not hang";
}

TEST_F(MediaProbeTest, HandlesOddPathCharacters) {
  const QString odd = path(QString::fromUtf8("it's \"a\" fïlm\nwith:colon %d.mov"));
  ASSERT_TRUE(QFile::copy(path("clip.mov"), odd));
  EXPECT_TRUE(media::canOpen(odd));
  ASSERT_TRUE(media::Movie::open(odd));
  EXPECT_EQ(media::Movie::open(odd)->displayName(), QFileInfo(odd).fileName());
}

TEST(TimeText, StartsWithDaysHoursMinutesSeconds) {
  EXPECT_EQ(media::timeText({(3600 + 23 * 60 + 45) * 1000LL + 250, 1000}), "0:01:23:45.250/1000");
  EXPECT_EQ(media::timeText({(3600 + 23 * 60 + 45) * 600LL, 600}).left(10), "0:01:23:45");
  EXPECT_EQ(media::timeText({(2 * 86400 + 5) * 1000LL, 1000}).left(10), "2:00:00:05");
  EXPECT_EQ(media::timeText({0, 0}), "0:00:00:00.0/1");
}
