// The export engine: the four presets on generated clips, checked with
// ffprobe and a full decode, plus cancellation and failure clean-up.
#include "media/ExportPreset.h"
#include "media/Exporter.h"
#include "media/OutputCheck.h"
#include "media/OutputFile.h"
#include "TestSupport.h"

#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <csignal>
#include <sys/resource.h>

#include <tuple>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace tovix;
using protocol::ExportResult;

// A stand-in for folders that refuse some names, as FAT does: a name with
// "?" is refused with EPERM (FAT through FUSE), one with "*" with EINVAL
// (the kernel's driver). Defined here, these take the place of the C
// library's for every call in this program.
namespace {
int refusal(const char* to) {
  const char* name = std::strrchr(to, '/') ? std::strrchr(to, '/') + 1 : to;
  return std::strchr(name, '?') ? EPERM : std::strchr(name, '*') ? EINVAL : 0;
}
int refuse(int error) {
  errno = error;
  return -1;
}
}  // namespace
extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) noexcept {
  if (const int error = refusal(to)) return refuse(error);
  return int(::syscall(SYS_renameat2, fromFolder, from, toFolder, to, flags));
}
extern "C" int link(const char* from, const char* to) noexcept {
  if (const int error = refusal(to)) return refuse(error);
  return int(::syscall(SYS_link, from, to));
}
extern "C" int rename(const char* from, const char* to) noexcept {
  if (const int error = refusal(to)) return refuse(error);
  return int(::syscall(SYS_rename, from, to));
}

namespace {

// Top-level atom names of an MP4/MOV file, in file order.
QStringList topLevelAtoms(const QString& path) {
  QFile file(path);
  QStringList atoms;
  if (!file.open(QIODevice::ReadOnly)) return atoms;
  qint64 start = 0;
  while (file.seek(start)) {
    const QByteArray header = file.read(16);
    if (header.size() < 8) break;
    quint64 size = 0;
    for (int i = 0; i < 4; ++i) size = (size << 8) | quint8(header[i]);
    if (size == 1 && header.size() == 16) {
      size = 0;
      for (int i = 8; i < 16; ++i) size = (size << 8) | quint8(header[i]);
    }
    atoms << QString::fromLatin1(header.mid(4, 4));
    if (size < 8) break;
    start += qint64(size);
  }
  return atoms;
}

// Errors printed by a full decode of the file; empty when it decodes cleanly.
QByteArray decodeErrors(const QString& path) {
  QProcess ffmpeg;
  ffmpeg.start("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"});
  ffmpeg.waitForFinished(120000);
  return ffmpeg.readAllStandardError() + (ffmpeg.exitCode() ? QByteArray("exit status") : QByteArray());
}

// A file's sound mixed to one channel at 48 kHz, through filters when given.
std::vector<float> monoSound(const QString& file, const QString& filters = "anull") {
  QProcess ffmpeg;
  ffmpeg.start("ffmpeg", {"-v", "error", "-i", file, "-af", filters, "-ac", "1", "-ar", "48000", "-f", "f32le", "-"});
  ffmpeg.waitForFinished(60000);
  const QByteArray bytes = ffmpeg.readAllStandardOutput();
  std::vector<float> samples(size_t(bytes.size()) / sizeof(float));
  std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
  return samples;
}

// How close a converted sound stays to its source, in time and shape: the
// signal-to-noise ratio in dB that all but the worst twentieth of its 10 ms
// stretches reach (its first and last half second aside).
double soundFidelity(const std::vector<float>& converted, const std::vector<float>& source) {
  std::vector<double> ratios;
  for (size_t at = 24000; at + 24000 <= std::min(converted.size(), source.size()); at += 480) {
    double signal = 0, noise = 0;
    for (size_t i = at; i < at + 480; ++i) {
      signal += double(source[i]) * source[i];
      noise += double(source[i] - converted[i]) * (source[i] - converted[i]);
    }
    ratios.push_back(10 * std::log10(signal / std::max(noise, 1e-12)));
  }
  std::sort(ratios.begin(), ratios.end());
  return ratios.empty() ? 0 : ratios[ratios.size() / 20];
}

double durationOf(const QJsonObject& probed) {
  return probed.value("format").toObject().value("duration").toString().toDouble();
}

// The mean of a plane ("YAVG", "UAVG" or "VAVG") in a region ("w:h:x:y")
// of the frame shown at a time ("1.5") of a movie.
double regionMean(const QString& file, const char* at, const char* region, const char* plane = "YAVG") {
  QProcess stats;
  stats.start("ffmpeg", {"-ss", at, "-i", file, "-frames:v", "1", "-vf", QString("crop=%1,signalstats,metadata=print").arg(region),
                         "-f", "null", "-"});
  stats.waitForFinished();
  return QString::fromUtf8(stats.readAllStandardError()).section(QString("signalstats.%1=").arg(plane), 1).section('\n', 0, 0).toDouble();
}

class ExporterTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    home = new test::TemporaryHome;  // kept work goes to its cache folder
    dir = new QTemporaryDir;
    test::writeFile(path("subs.srt"), "1\n00:00:00,000 --> 00:00:01,000\nHello\n\n");
  }
  static void TearDownTestSuite() {
    delete dir;
    delete home;
  }
  static QString path(const QString& name) { return dir->path() + "/" + name; }

  // Makes the clip once per suite.
  static QString clip(const QString& name, const QStringList& arguments) {
    const QString target = path(name);
    if (QFile::exists(target)) return target;
    return test::makeClip(target, arguments);
  }

  media::ExportOutcome run(const QString& source, uint32_t typeCode, const QString& output) {
    progress.clear();
    media::ExportJob job;
    job.source = source;
    job.output = output;
    job.typeCode = typeCode;
    job.outputSuffix = output.mid(output.lastIndexOf(u'_'));  // "_iPod.m4v", as the helper names it
    job.progress = [this](double fraction) {
      progress.push_back(fraction);
      return answer(progress.size());
    };
    job.interrupt = &interrupt;
    job.pieceUs = pieceUs;
    return media::exportMovie(job);
  }

  // Exports and checks what every output must be: finished, faststart,
  // decodable without errors, the source's duration, no temporary file.
  QJsonObject exportAndCheck(const QString& source, uint32_t typeCode, const QString& output) {
    const auto outcome = run(source, typeCode, output);
    EXPECT_EQ(outcome.status, ExportResult::Finished) << outcome.reason.toStdString();
    leftOut = outcome.leftOut;
    const QStringList atoms = topLevelAtoms(output);
    EXPECT_TRUE(atoms.contains("moov") && atoms.indexOf("moov") < atoms.indexOf("mdat"))
        << atoms.join(' ').toStdString();
    EXPECT_EQ(decodeErrors(output), QByteArray());
    const QJsonObject probed = test::probe(output);
    EXPECT_NEAR(durationOf(probed), durationOf(test::probe(source)), 0.1);
    EXPECT_FALSE(QFile::exists(media::temporaryOutputPath(output)));
    return probed;
  }

  static QTemporaryDir* dir;
  static test::TemporaryHome* home;
  int64_t pieceUs = 0;
  QString leftOut;  // what the last export checked said it left out
  std::vector<double> progress;
  std::function<bool(size_t)> answer = [](size_t) { return true; };
  std::atomic_bool interrupt{false};
};
QTemporaryDir* ExporterTest::dir = nullptr;
test::TemporaryHome* ExporterTest::home = nullptr;

QStringList withCodecs(QStringList arguments, const QStringList& codecs) { return arguments + codecs; }

// The settings x264 wrote into a movie's stream ("options: cabac=1 ref=2 ..."), with a space at the end.
QString encoderSettings(const QString& moviePath) {
  QFile file(moviePath);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  const qsizetype start = bytes.indexOf("options: ");
  if (start < 0) return {};
  return QString::fromLatin1(bytes.mid(start, bytes.indexOf('\0', start) - start)) + ' ';
}

}  // namespace

TEST_F(ExporterTest, iPhoneGetsHighProfileH264AndStereoAac) {
  const QString source = clip("av.mov", withCodecs(test::standardClipArguments(2), {"-c:v", "mpeg4", "-c:a", "pcm_s16le", "-ac", "2"}));
  const QJsonObject probed = exportAndCheck(source, media::kTypeCodeiPhone, path("av_iPhone.m4v"));
  const QJsonObject video = test::firstStream(probed, "video");
  EXPECT_EQ(video.value("codec_name").toString(), "h264");
  EXPECT_EQ(video.value("profile").toString(), "High");
  EXPECT_EQ(video.value("level").toInt(), 31);
  EXPECT_EQ(video.value("width").toInt(), 160);
  const QJsonObject audio = test::firstStream(probed, "audio");
  EXPECT_EQ(audio.value("codec_name").toString(), "aac");
  EXPECT_EQ(audio.value("profile").toString(), "LC");
  EXPECT_EQ(audio.value("channels").toInt(), 2);
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.front(), 0.0);
  EXPECT_EQ(progress.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST_F(ExporterTest, PicturesShrinkIntoTheBoxWithEvenSidesAndTheirAspect) {
  const QString big = clip("big.mp4", {"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30:duration=1",
                                      "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
  QJsonObject video = test::firstStream(exportAndCheck(big, media::kTypeCodeiPhone, path("big_iPhone.m4v")), "video");
  EXPECT_EQ(video.value("width").toInt(), 1280);
  EXPECT_EQ(video.value("height").toInt(), 720);
  video = test::firstStream(exportAndCheck(big, media::kTypeCodeiPod, path("big_iPod.m4v")), "video");
  EXPECT_EQ(video.value("width").toInt(), 640);
  EXPECT_EQ(video.value("height").toInt(), 360);
  EXPECT_EQ(video.value("profile").toString(), "Constrained Baseline");
  EXPECT_EQ(video.value("level").toInt(), 30);
  EXPECT_EQ(video.value("refs").toInt(), 1);
  EXPECT_EQ(video.value("color_space").toString(), "bt709") << "a shrunk HD picture still says it is in HD colours";
  video = test::firstStream(exportAndCheck(big, media::kTypeCodeAppleTV, path("big_ATV.m4v")), "video");
  EXPECT_EQ(video.value("width").toInt(), 1920);
  EXPECT_EQ(video.value("level").toInt(), 40);

  // Sources round their sizes to even ones: the scaler makes a truly odd picture.
  const QString odd = clip("odd.mkv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=1,scale=161:121,format=yuv444p",
                                      "-c:v", "ffv1"});
  ASSERT_EQ(test::firstStream(test::probe(odd), "video").value("width").toInt(), 161);
  video = test::firstStream(exportAndCheck(odd, media::kTypeCodeiPhone, path("odd_iPhone.m4v")), "video");
  EXPECT_EQ(video.value("width").toInt() % 2, 0);
  EXPECT_EQ(video.value("height").toInt() % 2, 0);
  EXPECT_NEAR(video.value("width").toInt(), 161, 1);
  EXPECT_NEAR(video.value("height").toInt(), 121, 1);

  const QString portrait = clip("portrait.mp4", {"-f", "lavfi", "-i", "testsrc2=size=720x1280:rate=30:duration=1",
                                                "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                                                "-colorspace", "bt470bg", "-color_primaries", "bt470bg"});
  video = test::firstStream(exportAndCheck(portrait, media::kTypeCodeiPhone, path("portrait_iPhone.m4v")), "video");
  EXPECT_EQ(video.value("height").toInt(), 1280) << "an upright picture fits the box turned on its side";
  EXPECT_EQ(video.value("color_space").toString(), "bt470bg") << "the colours the source names";
  EXPECT_EQ(video.value("color_primaries").toString(), "bt470bg");
  EXPECT_NEAR(video.value("width").toDouble() / video.value("height").toDouble(), 720.0 / 1280, 0.01);
  video = test::firstStream(exportAndCheck(portrait, media::kTypeCodeiPod, path("portrait_iPod.m4v")), "video");
  EXPECT_EQ(video.value("height").toInt(), 480) << "an iPod keeps its box: the most its decoder plays";
  const QString upright = clip("upright.mp4", {"-f", "lavfi", "-i", "testsrc2=size=720x1280:rate=30:duration=1",
                                              "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
  video = test::firstStream(exportAndCheck(upright, media::kTypeCodeiPod, path("upright_iPod.m4v")), "video");
  EXPECT_EQ(video.value("color_space").toString(), "bt709") << "an upright HD picture naming no colours is HD";

  const QString anamorphic = clip("wide.mkv", {"-f", "lavfi", "-i", "testsrc2=size=720x480:rate=25:duration=1",
                                             "-vf", "setsar=32/27", "-c:v", "ffv1"});
  video = test::firstStream(exportAndCheck(anamorphic, media::kTypeCodeiPod, path("wide_iPod.m4v")), "video");
  EXPECT_EQ(video.value("sample_aspect_ratio").toString(), "1:1");
  EXPECT_NEAR(video.value("width").toDouble() / video.value("height").toDouble(), 720.0 * 32 / 27 / 480, 0.02);
}

TEST_F(ExporterTest, DeviceTargetsKeepTheirProfileLevelAndBitRateCap) {
  // Moving grain cannot be compressed: without a working cap each target
  // would write some 25 Mb/s here. With the cap's buffer of two seconds, four
  // seconds may average at most 1.5 times the cap.
  const QString grain = clip("grain.mkv", {"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=4,noise=alls=60:allf=t+u",
                                          "-c:v", "ffv1"});
  const struct {
    uint32_t typeCode;
    const char* profile;
    int level;
    double capMbps;
    const char* referenceFrames;
  } targets[] = {{media::kTypeCodeiPhone, "High", 31, 5, " ref=2 "},
                 {media::kTypeCodeiPod, "Constrained Baseline", 30, 1.5, " ref=1 "},
                 {media::kTypeCodeAppleTV, "High", 40, 10, " ref=2 "}};
  for (const auto& target : targets) {
    const QString output = path(QString("grain_%1.m4v").arg(target.level));
    const QJsonObject video = test::firstStream(exportAndCheck(grain, target.typeCode, output), "video");
    EXPECT_EQ(video.value("profile").toString(), target.profile);
    EXPECT_EQ(video.value("level").toInt(), target.level);
    EXPECT_LE(video.value("bit_rate").toString().toDouble() / 1e6, target.capMbps * 1.5) << target.profile << target.level;
    // The encoder's tuning reaches the stream (x264 writes its settings into it).
    const QString settings = encoderSettings(output);
    EXPECT_TRUE(settings.contains(" trellis=1 ") && settings.contains(" rc_lookahead=40 ")) << settings.toStdString();
    EXPECT_TRUE(settings.contains(target.referenceFrames)) << settings.toStdString();
  }
}

TEST_F(ExporterTest, FrameRateIsCappedAndVariableRatesSurvive) {
  const QString fast = clip("sixty.mkv", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=60:duration=2", "-c:v", "ffv1"});
  QJsonObject video = test::firstStream(exportAndCheck(fast, media::kTypeCodeiPhone, path("sixty_iPhone.m4v")), "video");
  EXPECT_NEAR(video.value("nb_frames").toString().toInt(), 60, 2);

  const QString vfr = clip("vfr.mkv", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30:duration=3",
                                      "-vf", "select='not(mod(n\\,3))+lt(n\\,20)'", "-vsync", "vfr", "-c:v", "ffv1"});
  exportAndCheck(vfr, media::kTypeCodeAppleTV, path("vfr_ATV.m4v"));
}

TEST_F(ExporterTest, HardPicturesAreTurnedUprightDeinterlacedToneMappedAndSubtitled) {
  // A phone clip stored sideways with a 90° display matrix comes out upright
  // in its pixels, for players that ignore the matrix too.
  // Its bright top-left quarter ends where ffmpeg's own turn puts it: bottom left.
  const QString plain = clip("plain.mp4", {"-f", "lavfi", "-i", "color=gray:size=160x120:rate=30:duration=1,"
                                           "drawbox=x=0:y=0:w=80:h=60:color=white:t=fill", "-c:v", "libx264", "-pix_fmt", "yuv420p"});
  const QString rotated = clip("phone.mov", {"-i", plain, "-c", "copy", "-metadata:s:v:0", "rotate=90"});
  QJsonObject video = test::firstStream(exportAndCheck(rotated, media::kTypeCodeiPhone, path("phone_iPhone.m4v")), "video");
  EXPECT_EQ(video.value("width").toInt(), 120);
  EXPECT_EQ(video.value("height").toInt(), 160);
  EXPECT_TRUE(video.value("side_data_list").toArray().isEmpty()) << "no matrix left to turn it again";
  EXPECT_GT(regionMean(path("phone_iPhone.m4v"), "0", "40:40:10:110"), 200) << "bottom left";
  EXPECT_LT(regionMean(path("phone_iPhone.m4v"), "0", "40:40:70:10"), 160) << "top right";
  // That clip is too short for its rate to be measured over a second; two
  // seconds of it the iPhone plays as they are, and turns by the matrix.
  const QString plainer = clip("plain2.mp4", {"-i", plain, "-i", plain, "-filter_complex", "[0][1]concat", "-c:v", "libx264",
                                              "-pix_fmt", "yuv420p"});
  const QString longer = clip("phone2.mov", {"-i", plainer, "-c", "copy", "-metadata:s:v:0", "rotate=90"});
  EXPECT_TRUE(run(longer, media::kTypeCodeiPhone, path("phone2_iPhone.m4v")).pictureCopied);
  EXPECT_GT(regionMean(path("phone2_iPhone.m4v"), "0", "40:40:10:110"), 200) << "bottom left, as the matrix turns it";

  // Interlaced fields in motion: the export is progressive and shows no combing.
  const QString interlaced = clip("interlaced.mkv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=50:duration=2",
                                                     "-vf", "tinterlace=mode=interleave_top,setfield=tff", "-c:v", "libx264",
                                                     "-flags", "+ilme+ildct", "-x264-params", "tff=1", "-pix_fmt", "yuv420p"});
  const auto combedFrames = [](const QString& file) {
    QProcess idet;
    idet.start("ffmpeg", {"-i", file, "-vf", "idet", "-f", "null", "-"});
    idet.waitForFinished();
    const QString report = QString::fromUtf8(idet.readAllStandardError());
    const QString multi = report.mid(report.indexOf("Multi frame detection:"));
    return multi.section("TFF:", 1).section("BFF", 0, 0).trimmed().toInt() +
           multi.section("BFF:", 1).section("Progressive", 0, 0).trimmed().toInt();
  };
  ASSERT_GE(combedFrames(interlaced), 45) << "the source is combed";
  video = test::firstStream(exportAndCheck(interlaced, media::kTypeCodeiPhone, path("interlaced_iPhone.m4v")), "video");
  EXPECT_EQ(video.value("field_order").toString(), "progressive");
  EXPECT_EQ(video.value("avg_frame_rate").toString(), "25/1") << "one picture per frame, at the source's rate";
  EXPECT_LE(combedFrames(path("interlaced_iPhone.m4v")), 8);
  // A stream that names no field order is judged by its first frames.
  const QString unflagged = clip("unflagged.avi", {"-i", interlaced, "-c:v", "mpeg4", "-q:v", "2"});
  ASSERT_EQ(test::firstStream(test::probe(unflagged), "video").value("field_order").toString("unknown"), "unknown");
  exportAndCheck(unflagged, media::kTypeCodeiPhone, path("unflagged_iPhone.m4v"));
  EXPECT_LE(combedFrames(path("unflagged_iPhone.m4v")), 8);

  // A camera's woven fields stored as progressive frames: the frames tell.
  const QString woven = clip("woven.mp4", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=50:duration=2,gblur=sigma=1",
                                          "-vf", "tinterlace=mode=interleave_top", "-c:v", "libx264", "-pix_fmt", "yuv420p"});
  ASSERT_EQ(test::firstStream(test::probe(woven), "video").value("field_order").toString(), "progressive");
  ASSERT_GE(combedFrames(woven), 45) << "the source is combed";
  exportAndCheck(woven, media::kTypeCodeiPhone, path("woven_iPhone.m4v"));
  EXPECT_LE(combedFrames(path("woven_iPhone.m4v")), 8);

  // Film telecined to 29.97 comes back as the film's own 23.976 frames, none repeated.
  const QString film = clip("telecined.mkv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=24000/1001:duration=4,gblur=sigma=1.5",
                                             "-vf", "telecine=pattern=23,setfield=prog", "-c:v", "libx264", "-pix_fmt", "yuv420p"});
  video = test::firstStream(exportAndCheck(film, media::kTypeCodeiPhone, path("telecined_iPhone.m4v")), "video");
  EXPECT_NEAR(video.value("nb_frames").toString().toInt(), 96, 1);
  const QStringList rate = video.value("avg_frame_rate").toString().split('/');
  EXPECT_NEAR(rate.value(0).toDouble() / rate.value(1).toDouble(), 24000.0 / 1001, 0.05);
  QProcess distinct;
  distinct.start("ffmpeg", {"-i", path("telecined_iPhone.m4v"), "-vf", "mpdecimate", "-f", "null", "-"});
  distinct.waitForFinished();
  EXPECT_EQ(QString::fromUtf8(distinct.readAllStandardError()).section("frame=", -1).section("fps", 0, 0).trimmed(),
            video.value("nb_frames").toString()) << "no frame shown twice";

  // Black bars are cut before the picture is fitted: scope film in 16:9, 4:3 film in 16:9.
  const QString letterbox = clip("letterbox.mp4", {"-f", "lavfi", "-i", "testsrc2=size=640x268:rate=25:duration=1",
                                                  "-vf", "pad=640:360:0:46", "-c:v", "libx264", "-pix_fmt", "yuv420p"});
  video = test::firstStream(exportAndCheck(letterbox, media::kTypeCodeiPhone, path("letterbox_iPhone.m4v")), "video");
  EXPECT_EQ(video.value("width").toInt(), 640);
  EXPECT_EQ(video.value("height").toInt(), 268);
  const QString pillarbox = clip("pillarbox.mp4", {"-f", "lavfi", "-i", "testsrc2=size=480x360:rate=25:duration=1",
                                                  "-vf", "pad=640:360:80:0", "-c:v", "libx264", "-pix_fmt", "yuv420p"});
  video = test::firstStream(exportAndCheck(pillarbox, media::kTypeCodeiPod, path("pillarbox_iPod.m4v")), "video");
  EXPECT_EQ(video.value("width").toInt(), 480);
  EXPECT_EQ(video.value("height").toInt(), 360);

  // An SDR clip made HLG looks like the SDR clip again: mean luma and
  // saturation within 20 %, tagged BT.709.
  const QString sdr = clip("sdr.mp4", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=0.4", "-pix_fmt", "yuv420p",
                                       "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709", "-c:v", "libx264"});
  const QString hlg = clip("hlg.mp4", {"-i", sdr, "-vf", "zscale=tin=bt709:min=bt709:pin=bt709:t=arib-std-b67:m=bt2020nc:p=bt2020:npl=100,"
                                       "format=yuv420p10le", "-color_trc", "arib-std-b67", "-colorspace", "bt2020nc",
                                       "-color_primaries", "bt2020", "-c:v", "libx265", "-x265-params", "log-level=error"});
  const auto meanLumaAndSaturation = [](const QString& file) {
    QProcess stats;
    stats.start("ffmpeg", {"-i", file, "-vf", "signalstats,metadata=print", "-frames:v", "1", "-f", "null", "-"});
    stats.waitForFinished();
    const QString report = QString::fromUtf8(stats.readAllStandardError());
    return std::pair{report.section("signalstats.YAVG=", 1).section('\n', 0, 0).toDouble(),
                     report.section("signalstats.SATAVG=", 1).section('\n', 0, 0).toDouble()};
  };
  video = test::firstStream(exportAndCheck(hlg, media::kTypeCodeiPhone, path("hlg_iPhone.m4v")), "video");
  EXPECT_EQ(video.value("color_transfer").toString(), "bt709");
  EXPECT_EQ(video.value("color_primaries").toString(), "bt709");
  const auto [sdrLuma, sdrSaturation] = meanLumaAndSaturation(sdr);
  const auto [luma, saturation] = meanLumaAndSaturation(path("hlg_iPhone.m4v"));
  ASSERT_GT(sdrLuma, 0);
  EXPECT_NEAR(luma, sdrLuma, 0.2 * sdrLuma);
  EXPECT_NEAR(saturation, sdrSaturation, 0.2 * sdrSaturation);

  // Forced picture subtitles are burnt in while they show, shrunk with the
  // picture, one without an end of its own until the next; the other
  // picture subtitles are left out and said to be.
  ASSERT_EQ(test::runProgram(qEnvironmentVariable("TOVIX_BIN_DIR") + "/picture_subtitles", {path("box.mkv"), "800", "600", "1000-,2000-2200", "ffff0000"}), 0);
  const QString subtitled = clip("subtitled.mkv", {"-f", "lavfi", "-i", "color=c=black:size=800x600:rate=25:duration=3",
                                                   "-i", path("box.mkv"), "-map", "0", "-map", "1", "-map", "1", "-c:v", "libx264",
                                                   "-c:s", "copy", "-disposition:s:0", "0", "-disposition:s:1", "forced"});
  const auto outcome = run(subtitled, media::kTypeCodeiPod, path("subtitled_iPod.m4v"));
  EXPECT_EQ(outcome.leftOut, "1 picture subtitle track");
  // Where the red box shows on the 800x600 picture shrunk to 640x480: red
  // is high in Cr, low in Cb.
  const QString burnt = path("subtitled_iPod.m4v");
  const char* box = "140:40:250:388";
  EXPECT_LT(regionMean(burnt, "0.5", box, "VAVG"), 140) << "not yet shown";
  EXPECT_GT(regionMean(burnt, "1.5", box, "VAVG"), 200) << "burnt in, red";
  EXPECT_LT(regionMean(burnt, "1.5", box, "UAVG"), 110) << "red, not blue";
  EXPECT_LT(regionMean(burnt, "2.5", box, "VAVG"), 140) << "gone again";
}

// A DVD title as a DVD carries it: MPEG-2 and AC3 5.1 in a program stream,
// with a subtitle track made by spumux whose second line carries the
// "forced" display command; ripped to Matroska with one sound time given
// twice, as rips often have it.
TEST_F(ExporterTest, DvdRipsKeepTheirSurroundSoundAndForcedLines) {
  const QString vob = clip("title.vob", {"-f", "lavfi", "-i", "color=c=black:size=720x576:rate=25:duration=5",
                                         "-f", "lavfi", "-i", "sine=frequency=300:sample_rate=48000:duration=5",
                                         "-filter_complex", "[1]asplit=6[a][b][c][d][e][f];[a][b][c][d][e][f]join=inputs=6:channel_layout=5.1[s]",
                                         "-map", "0:v", "-map", "[s]", "-target", "pal-dvd", "-c:a", "ac3", "-b:a", "448k"});
  for (const auto& [name, box] : {std::pair{"normal.png", "rectangle 100,100 200,140"}, {"forced.png", "rectangle 270,470 450,520"}})
    ASSERT_EQ(test::runProgram("convert", {"-size", "720x576", "xc:transparent", "-fill", "white", "-draw", box,
                                           "-type", "PaletteAlpha", path(name)}), 0);
  test::writeFile(path("spu.xml"), QString("<subpictures><stream>"
                                           "<spu start=\"00:00:01.00\" end=\"00:00:02.00\" image=\"%1\"/>"
                                           "<spu start=\"00:00:03.00\" image=\"%2\" force=\"yes\"/>"
                                           "<spu start=\"00:00:04.00\" end=\"00:00:04.50\" image=\"%1\"/>"
                                           "</stream></subpictures>").arg(path("normal.png"), path("forced.png")).toUtf8());
  QProcess spumux;
  spumux.setStandardInputFile(vob);
  spumux.setStandardOutputFile(path("subtitled.vob"));
  spumux.start("spumux", {"-s", "0", path("spu.xml")});
  ASSERT_TRUE(spumux.waitForFinished(60000) && spumux.exitCode() == 0) << spumux.readAllStandardError().toStdString();
  const QString rip = clip("rip.mkv", {"-fflags", "+genpts", "-i", path("subtitled.vob"), "-map", "0:v", "-map", "0:a", "-map", "0:s", "-c", "copy",
                                       "-bsf:a", "setts=ts=if(eq(N\\,40)\\,PREV_INPTS\\,PTS)"});
  QByteArray packets;
  test::runProgram("ffprobe", {"-v", "error", "-select_streams", "a", "-count_packets", "-show_entries",
                               "stream=nb_read_packets", "-of", "csv=p=0", rip}, &packets);

  const QJsonObject probed = exportAndCheck(rip, media::kTypeCodeAppleTV, path("rip_ATV.m4v"));
  const QJsonArray streams = probed.value("streams").toArray();
  ASSERT_EQ(streams.size(), 3) << "picture, stereo and the copied surround track";
  EXPECT_EQ(streams.at(2).toObject().value("codec_name").toString(), "ac3");
  EXPECT_EQ(streams.at(2).toObject().value("nb_frames").toString(), QString(packets).trimmed()) << "every AC3 frame copied";
  // Inside where the boxes show, on the picture shown 720 or 768 wide.
  const QString exported = path("rip_ATV.m4v");
  EXPECT_GT(regionMean(exported, "3.5", "140:30:300:480"), 200) << "the forced line is burnt in";
  EXPECT_LT(regionMean(exported, "4.2", "140:30:300:480"), 40) << "until the next line, though it names no end";
  EXPECT_LT(regionMean(exported, "1.5", "80:30:115:105"), 40) << "the other lines are not";
}

TEST_F(ExporterTest, EveryTargetKeepsTheMoviesTagsChaptersAndTrackLanguage) {
  test::writeFile(path("chapters.txt"), ";FFMETADATA1\ntitle=Trip to the Sea\nartist=Ann\ndate=2024\ncomment=First day\n"
                                        "description=Two friends and the sea\n"
                                        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=700\ntitle=Arrival\n"
                                        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=700\nEND=1400\ntitle=Beach\n"
                                        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1400\nEND=2000\ntitle=Home\n");
  const QString source = clip("tagged.mkv", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30:duration=2",
                                             "-f", "lavfi", "-i", "sine=frequency=300:sample_rate=44100:duration=2",
                                             "-i", path("chapters.txt"), "-f", "srt", "-i", path("subs.srt"),
                                             "-f", "srt", "-i", path("subs.srt"), "-map", "0", "-map", "1", "-map", "3", "-map", "4",
                                             "-map_metadata", "2", "-map_chapters", "2", "-c:v", "ffv1", "-c:a", "flac", "-c:s", "srt",
                                             "-metadata:s:a:0", "language=fra", "-metadata:s:a:0", "title=Français",
                                             "-metadata:s:s:0", "language=eng", "-metadata:s:s:1", "language=fra",
                                             "-disposition:s:0", "default", "-disposition:s:1", "forced"});
  for (const auto& [type, name] : {std::pair{media::kTypeCodeiPhone, "tagged_iPhone.m4v"}, {media::kTypeCodeiPod, "tagged_iPod.m4v"},
                                   {media::kTypeCodeAppleTV, "tagged_ATV.m4v"}, {media::kTypeCodeMovie, "tagged_QT.mov"}}) {
    const QJsonObject probed = exportAndCheck(source, type, path(name));
    const QJsonObject tags = probed.value("format").toObject().value("tags").toObject();
    EXPECT_EQ(tags.value("title").toString(), "Trip to the Sea") << name;
    EXPECT_EQ(tags.value("artist").toString(), "Ann") << name;
    EXPECT_EQ(tags.value("comment").toString(), "First day") << name;
    if (type != media::kTypeCodeMovie) {  // the QuickTime muxer writes no description
      EXPECT_EQ(tags.value("description").toString(), "Two friends and the sea") << name;
    }
    const QJsonObject audioTags = test::firstStream(probed, "audio").value("tags").toObject();
    EXPECT_EQ(audioTags.value("language").toString(), "fra") << name;
    EXPECT_EQ(audioTags.value("handler_name").toString(), "Français") << name;
    QJsonArray subtitles;
    for (const QJsonValue& stream : probed.value("streams").toArray())
      if (stream.toObject().value("codec_type") == "subtitle") subtitles.append(stream);
    if (type == media::kTypeCodeiPod) {
      EXPECT_TRUE(subtitles.isEmpty()) << "iPods show no subtitles";
    } else {
      ASSERT_EQ(subtitles.size(), 2) << name;
      EXPECT_EQ(subtitles.at(0).toObject().value("codec_name").toString(), "mov_text") << name;
      EXPECT_EQ(subtitles.at(0).toObject().value("tags").toObject().value("language").toString(), "eng") << name;
      EXPECT_EQ(subtitles.at(1).toObject().value("tags").toObject().value("language").toString(), "fra") << name;
      EXPECT_EQ(subtitles.at(0).toObject().value("disposition").toObject().value("default").toInt(), 0) << "off by default";
      // Forced text says so in its MP4 sample description: "all samples are forced".
      if (type != media::kTypeCodeMovie) {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        std::vector<quint8> displayFlags;
        for (qsizetype at = bytes.indexOf("tx3g"); at >= 0; at = bytes.indexOf("tx3g", at + 4)) displayFlags.push_back(quint8(bytes[at + 12]));
        EXPECT_EQ(displayFlags, std::vector<quint8>({0x00, 0x40})) << name;
      }
    }
    QByteArray out;
    test::runProgram("ffprobe", {"-v", "error", "-show_chapters", "-of", "json", path(name)}, &out);
    const QJsonArray chapters = QJsonDocument::fromJson(out).object().value("chapters").toArray();
    ASSERT_EQ(chapters.size(), 3) << name;
    EXPECT_EQ(chapters.at(1).toObject().value("tags").toObject().value("title").toString(), "Beach") << name;
    EXPECT_NEAR(chapters.at(2).toObject().value("start_time").toString().toDouble(), 1.4, 0.01) << name;
  }
}

// mov_text shows one sample at a time: lines that overlap still come and go
// at their own times; a line running for ever and one after the end, and a
// chapter far beyond it, do not make the movie longer.
TEST_F(ExporterTest, OverlappingAndAbsurdSubtitlesKeepTheMoviesTimes) {
  test::writeFile(path("lines.ass"), "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\n"
                                     "Format: Name, Fontname, Fontsize, PrimaryColour, Bold, Italic, Alignment\n"
                                     "Style: Default,Arial,16,&Hffffff,0,0,2\n\n[Events]\n"
                                     "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
                                     "Dialogue: 0,0:00:00.50,0:00:03.00,Default,,0,0,0,,One\n"
                                     "Dialogue: 0,0:00:01.00,0:00:05.00,Default,,0,0,0,,Two\n"
                                     "Dialogue: 0,0:00:04.00,0:00:07.00,Default,,0,0,0,,Three\n"
                                     "Dialogue: 0,0:00:07.50,0:00:07.60,Default,,0,0,0,,For ever\n"
                                     "Dialogue: 0,0:01:40.00,0:01:41.00,Default,,0,0,0,,After the end\n");
  test::writeFile(path("far.txt"), ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=4000\ntitle=Start\n"
                                   "[CHAPTER]\nTIMEBASE=1/1000\nSTART=4000\nEND=1000000000\ntitle=Rest\n"
                                   "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000000000\nEND=1000000001\ntitle=Far\n");
  const QString source = clip("lines.mkv", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=8",
                                            "-i", path("lines.ass"), "-i", path("far.txt"), "-map", "0", "-map", "1",
                                            "-map_chapters", "2", "-c:v", "libx264", "-c:s", "copy",
                                            "-bsf:s", "setts=duration=if(eq(N\\,3)\\,1000000000000\\,DURATION)"});
  const auto outcome = run(source, media::kTypeCodeAppleTV, path("lines_ATV.m4v"));
  ASSERT_EQ(outcome.status, ExportResult::Finished) << outcome.detail.toStdString();
  EXPECT_EQ(outcome.leftOut, "1 subtitle line out of time");
  EXPECT_NEAR(durationOf(test::probe(path("lines_ATV.m4v"))), 8.0, 0.05);
  QByteArray srt;
  test::runProgram("ffmpeg", {"-v", "error", "-i", path("lines_ATV.m4v"), "-map", "0:s", "-f", "srt", "-"}, &srt);
  EXPECT_EQ(QString::fromUtf8(srt).replace("\r", ""),
            "1\n00:00:00,500 --> 00:00:01,000\nOne\n\n2\n00:00:01,000 --> 00:00:03,000\nOne\nTwo\n\n"
            "3\n00:00:03,000 --> 00:00:04,000\nTwo\n\n4\n00:00:04,000 --> 00:00:05,000\nTwo\nThree\n\n"
            "5\n00:00:05,000 --> 00:00:07,000\nThree\n\n6\n00:00:07,500 --> 00:00:08,000\nFor ever\n\n");
  QByteArray out;
  test::runProgram("ffprobe", {"-v", "error", "-show_chapters", "-of", "json", path("lines_ATV.m4v")}, &out);
  const QJsonArray chapters = QJsonDocument::fromJson(out).object().value("chapters").toArray();
  ASSERT_EQ(chapters.size(), 2) << "the chapter after the end goes";
  EXPECT_NEAR(chapters.at(1).toObject().value("end_time").toString().toDouble(), 8.0, 0.05);

  // A movie that starts late (a broadcast's clock) keeps its lines' times.
  const QString late = clip("late.mkv", {"-i", source, "-map", "0", "-c", "copy", "-output_ts_offset", "10"});
  ASSERT_EQ(run(late, media::kTypeCodeiPhone, path("late_iPhone.m4v")).status, ExportResult::Finished);
  test::runProgram("ffmpeg", {"-v", "error", "-i", path("late_iPhone.m4v"), "-map", "0:s", "-f", "srt", "-"}, &srt);
  EXPECT_TRUE(srt.startsWith("1\n00:00:00,500 --> 00:00:01,000")) << srt.left(40).toStdString();

  // A file cut short ends where its picture ends, whatever its header says.
  QFile whole(source);
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
  test::writeFile(path("cut.mkv"), whole.read(whole.size() * 6 / 10));
  ASSERT_EQ(run(path("cut.mkv"), media::kTypeCodeiPhone, path("cut_iPhone.m4v")).status, ExportResult::Finished);
  const QJsonObject cut = test::probe(path("cut_iPhone.m4v"));
  // Where the last picture stops showing (its time plus its duration).
  QByteArray frames;
  test::runProgram("ffprobe", {"-v", "error", "-select_streams", "v", "-show_entries", "packet=pts_time,duration_time",
                               "-of", "csv=p=0", path("cut_iPhone.m4v")}, &frames);
  double pictureEnd = 0;
  for (const QByteArray& line : frames.split('\n'))
    if (line.contains(',')) pictureEnd = std::max(pictureEnd, line.split(',')[0].toDouble() + line.split(',')[1].toDouble());
  EXPECT_NEAR(durationOf(cut), pictureEnd, 0.05);
  EXPECT_LT(durationOf(cut), 7.0);
}

TEST_F(ExporterTest, AudioOnlyVideoOnlyAndExtraStreams) {
  const QString wav = clip("tone.wav", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=2", "-ac", "1"});
  QJsonObject probed = exportAndCheck(wav, media::kTypeCodeiPod, path("tone_iPod.m4v"));
  EXPECT_TRUE(test::firstStream(probed, "video").isEmpty());
  EXPECT_EQ(test::firstStream(probed, "audio").value("channels").toInt(), 1) << "mono stays mono";
  EXPECT_NEAR(test::firstStream(probed, "audio").value("bit_rate").toString().toInt() / 1000, 64, 8) << "half the stereo rate";

  // A broadcast whose sound changes its rate midway is resampled on.
  for (const char* rate : {"44100", "48000"})
    clip(QString("rate%1.ts").arg(rate), {"-f", "lavfi", "-i", QString("sine=sample_rate=%1:duration=2").arg(rate), "-c:a", "mp2"});
  test::writeFile(path("rates.txt"), QString("file '%1'\nfile '%2'\n").arg(path("rate44100.ts"), path("rate48000.ts")).toUtf8());
  const QString rates = clip("rates.ts", {"-f", "concat", "-safe", "0", "-i", path("rates.txt"), "-c", "copy"});
  exportAndCheck(rates, media::kTypeCodeiPhone, path("rates_iPhone.m4v"));

  // A long track, encoded in two halves at once, sounds as one.
  const QString chirp = clip("chirp.mkv", {"-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*(200+20*t)*t)|0.5*sin(2*PI*(300+20*t)*t):s=48000:d=40",
                                          "-c:a", "flac"});
  exportAndCheck(chirp, media::kTypeCodeiPhone, path("chirp_iPhone.m4v"));
  const std::vector<float> chirpSound = monoSound(chirp), chirpConverted = monoSound(path("chirp_iPhone.m4v"));
  EXPECT_EQ(chirpConverted.size(), chirpSound.size());
  EXPECT_GT(soundFidelity(chirpConverted, chirpSound), 28);
  // A gap in the sound, as a DVD's cells leave, stays as silence: what follows keeps its time.
  const QString gapped = clip("chirp_gap.mkv", {"-i", chirp, "-af", "aselect=not(between(t\\,10\\,10.5))", "-c:a", "flac"});
  exportAndCheck(gapped, media::kTypeCodeiPhone, path("chirp_gap_iPhone.m4v"));
  EXPECT_GT(soundFidelity(monoSound(path("chirp_gap_iPhone.m4v")),
                          monoSound(gapped, "aresample=async=1:min_hard_comp=0.001:first_pts=0")), 28);
  // A time the source repeats, as a DVD's cells do, is followed too: the sound does not run late.
  const QString repeated = clip("chirp_repeat.mkv", {"-i", chirp, "-af", "asetpts=if(gte(T\\,10)\\,PTS-0.3/TB\\,PTS)", "-c:a", "flac"});
  exportAndCheck(repeated, media::kTypeCodeiPhone, path("chirp_repeat_iPhone.m4v"));
  // A gap too short to be heard out of step is closed, which the second half
  // cannot know: the halves disagree there, and are not joined.
  const QString nudged = clip("chirp_nudge.mkv", {"-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*(200+20*t)*t):s=48000:d=40:n=512",
                                                 "-af", "aselect=not(between(t\\,10\\,10.01))", "-c:a", "pcm_s16le"});
  exportAndCheck(nudged, media::kTypeCodeiPhone, path("chirp_nudge_iPhone.m4v"));
  EXPECT_GT(soundFidelity(monoSound(path("chirp_nudge_iPhone.m4v")), monoSound(nudged)), 28);

  // 32 channels with no layout: the first two become the stereo track.
  QString channels = "sin(440*2*PI*t)|sin(440*2*PI*t)";
  for (int i = 2; i < 32; ++i) channels += "|0";
  const QString many = clip("many.wav", {"-f", "lavfi", "-i", "aevalsrc=" + channels + ":s=48000:d=2"});
  ASSERT_EQ(test::firstStream(test::probe(many), "audio").value("channel_layout").toString("unknown"), "unknown");
  probed = exportAndCheck(many, media::kTypeCodeiPhone, path("many_iPhone.m4v"));
  EXPECT_EQ(test::firstStream(probed, "audio").value("channels").toInt(), 2);

  // A song with tags and a cover keeps both.
  const QString cover = clip("cover.jpg", {"-f", "lavfi", "-i", "testsrc2=size=64x64:rate=1:duration=1", "-frames:v", "1"});
  const QString song = clip("song.mp3", {"-f", "lavfi", "-i", "sine=duration=2", "-i", cover, "-map", "0", "-map", "1",
                                         "-c:a", "libmp3lame", "-c:v", "copy", "-disposition:v", "attached_pic",
                                         "-metadata", "title=Song", "-metadata", "artist=Ann", "-id3v2_version", "3"});
  probed = exportAndCheck(song, media::kTypeCodeiPod, path("song_iPod.m4v"));
  EXPECT_EQ(probed.value("format").toObject().value("tags").toObject().value("title").toString(), "Song");
  const QJsonObject coverStream = test::firstStream(probed, "video");
  EXPECT_EQ(coverStream.value("codec_name").toString(), "mjpeg");
  EXPECT_EQ(coverStream.value("disposition").toObject().value("attached_pic").toInt(), 1) << "the file's cover";
  // A damaged cover is left out, and said to be.
  QFile damaged(cover);
  ASSERT_TRUE(damaged.open(QIODevice::ReadOnly));
  QByteArray jpeg = damaged.readAll();
  for (qsizetype i = jpeg.size() / 3; i < jpeg.size() / 3 + 300; ++i) jpeg[i] = char(i * 37);
  test::writeFile(path("damaged.jpg"), jpeg);
  const QString badSong = clip("bad_song.mp3", {"-f", "lavfi", "-i", "sine=duration=2", "-i", path("damaged.jpg"), "-map", "0",
                                               "-map", "1", "-c:a", "libmp3lame", "-c:v", "copy", "-disposition:v", "attached_pic"});
  EXPECT_EQ(run(badSong, media::kTypeCodeiPod, path("bad_song_iPod.m4v")).leftOut, "1 cover picture");
  EXPECT_TRUE(test::firstStream(test::probe(path("bad_song_iPod.m4v")), "video").isEmpty());
  // A broadcast's sound frame whose header a dropout broke is left out, and
  // said to be; the rest of the sound is copied and plays.
  QFile broadcast(clip("broadcast.ts", {"-f", "lavfi", "-i", "sine=sample_rate=48000:duration=4", "-c:a", "aac", "-b:a", "128k"}));
  ASSERT_TRUE(broadcast.open(QIODevice::ReadOnly));
  QByteArray stream = broadcast.readAll();
  qsizetype frame = stream.size() / 2;  // a mono 48 kHz AAC frame's header, in the middle
  do frame = stream.indexOf("\xFF\xF1\x4C", frame + 1);
  while (frame > 0 && frame + 3 < stream.size() && (uchar(stream[frame + 3]) & 0xC0) != 0x40);
  ASSERT_TRUE(frame > 0 && frame + 3 < stream.size());
  stream[frame + 1] = '\x01';
  test::writeFile(path("broken.ts"), stream);
  exportAndCheck(path("broken.ts"), media::kTypeCodeiPhone, path("broken_iPhone.m4v"));
  EXPECT_EQ(leftOut, "1 sound frame damaged in the source");

  // Six channels near full scale, mixed to two, stay within full scale.
  const QString loud = clip("loud51.wav", {"-f", "lavfi", "-i", "sine=frequency=220:sample_rate=48000:duration=2,volume=7.9",
                                          "-filter_complex", "[0]asplit=6[a][b][c][d][e][f];[a][b][c][d][e][f]join=inputs=6:channel_layout=5.1"});
  exportAndCheck(loud, media::kTypeCodeiPhone, path("loud51_iPhone.m4v"));
  QProcess measure;
  measure.start("ffmpeg", {"-i", path("loud51_iPhone.m4v"), "-af",
                           "aformat=sample_fmts=flt,astats=measure_overall=Peak_level:measure_perchannel=none", "-f", "null", "-"});
  measure.waitForFinished();
  const QString stats = QString::fromUtf8(measure.readAllStandardError());
  const qsizetype at = stats.lastIndexOf("Peak level dB: ");
  ASSERT_GE(at, 0) << stats.toStdString();
  EXPECT_LE(stats.mid(at + 15).section(u'\n', 0, 0).toDouble(), 0.0) << "the stereo mix never clips";

  // Apple TV: a surround companion beside the stereo track, disabled; an AC3
  // source within the format's highest rate is copied into it.
  const QString ac3 = clip("surround.ac3", {"-i", loud, "-c:a", "ac3", "-b:a", "448k"});
  for (const QString& source : {loud, ac3}) {
    probed = exportAndCheck(source, media::kTypeCodeAppleTV, path(QFileInfo(source).completeBaseName() + "_ATV.m4v"));
    const QJsonArray tracks = probed.value("streams").toArray();
    ASSERT_EQ(tracks.size(), 2) << source.toStdString();
    EXPECT_EQ(tracks.at(0).toObject().value("codec_name").toString(), "aac");
    EXPECT_EQ(tracks.at(0).toObject().value("channels").toInt(), 2);
    EXPECT_EQ(tracks.at(0).toObject().value("disposition").toObject().value("default").toInt(), 1);
    EXPECT_EQ(tracks.at(1).toObject().value("codec_name").toString(), "ac3");
    EXPECT_EQ(tracks.at(1).toObject().value("channels").toInt(), 6);
    EXPECT_EQ(tracks.at(1).toObject().value("disposition").toObject().value("default").toInt(), 0);
    EXPECT_EQ(tracks.at(1).toObject().value("bit_rate").toString(), source == ac3 ? "448000" : "640000");
    // The surround track names the stereo one as what players fall back to.
    QFile file(path(QFileInfo(source).completeBaseName() + "_ATV.m4v"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const qsizetype fall = bytes.indexOf("fall");
    ASSERT_GT(fall, 0) << "a 'fall' track reference";
    EXPECT_EQ(QString::number(quint8(bytes[fall + 7]), 16), tracks.at(0).toObject().value("id").toString().mid(2));
  }

  const QString silent = clip("silent.mp4", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30:duration=2", "-c:v", "libx264"});
  probed = exportAndCheck(silent, media::kTypeCodeAppleTV, path("silent_ATV.m4v"));
  EXPECT_TRUE(test::firstStream(probed, "audio").isEmpty());

  // Two sound tracks, the second marked default; a subtitle and a data track.
  const QString busy = clip("busy.mkv", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30:duration=2",
                                        "-f", "lavfi", "-i", "sine=frequency=300:sample_rate=22050:duration=2",
                                        "-f", "lavfi", "-i", "sine=frequency=600:sample_rate=44100:duration=2",
                                        "-f", "srt", "-i", path("subs.srt"),
                                        "-map", "0", "-map", "1", "-map", "2", "-map", "3",
                                        "-c:v", "ffv1", "-c:a", "flac", "-c:s", "srt",
                                        "-disposition:a:0", "0", "-disposition:a:1", "default"});
  probed = exportAndCheck(busy, media::kTypeCodeiPhone, path("busy_iPhone.m4v"));
  const QJsonArray streams = probed.value("streams").toArray();
  ASSERT_EQ(streams.size(), 4) << "the picture, both sound tracks and the subtitles";
  EXPECT_EQ(streams.at(1).toObject().value("sample_rate").toString(), "22050") << "in the source's order";
  EXPECT_EQ(streams.at(1).toObject().value("disposition").toObject().value("default").toInt(), 0);
  EXPECT_EQ(streams.at(2).toObject().value("disposition").toObject().value("default").toInt(), 1)
      << "the source's default track is the one players start with";
  EXPECT_EQ(test::firstStream(probed, "subtitle").value("codec_name").toString(), "mov_text");
  EXPECT_EQ(run(busy, media::kTypeCodeiPhone, path("busy_iPhone.m4v")).leftOut, "") << "all of it is kept";
  EXPECT_EQ(run(busy, media::kTypeCodeiPod, path("busy_iPod.m4v")).leftOut, "1 subtitle track, 1 sound track");
  probed = exportAndCheck(busy, media::kTypeCodeiPod, path("busy_iPod.m4v"));
  ASSERT_EQ(probed.value("streams").toArray().size(), 2) << "an iPod plays one sound track: the chosen one";
  EXPECT_EQ(test::firstStream(probed, "audio").value("sample_rate").toString(), "44100");
}

TEST_F(ExporterTest, QuickTimeCopiesCompatibleStreamsAndConvertsTheRest) {
  const QString baseline = clip("base.mp4", withCodecs(test::standardClipArguments(2),
                                                      {"-c:v", "libx264", "-profile:v", "baseline", "-c:a", "aac"}));
  QJsonObject probed = exportAndCheck(baseline, media::kTypeCodeMovie, path("base_QT.mov"));
  EXPECT_EQ(test::firstStream(probed, "video").value("profile").toString(), "Constrained Baseline")
      << "H.264 is copied, not encoded again";
  EXPECT_EQ(test::firstStream(probed, "audio").value("codec_name").toString(), "aac");

  // AVI stores no presentation times: its B-frame video is converted, so the
  // copy decodes with every frame in order.
  const QString old = clip("old.avi", withCodecs(test::standardClipArguments(2),
                                                 {"-c:v", "mpeg4", "-bf", "2", "-c:a", "libmp3lame"}));
  probed = exportAndCheck(old, media::kTypeCodeMovie, path("old_QT.mov"));
  EXPECT_EQ(test::firstStream(probed, "video").value("codec_name").toString(), "h264");
  EXPECT_EQ(test::firstStream(probed, "video").value("nb_frames").toString(), "60");
  EXPECT_EQ(test::firstStream(probed, "audio").value("codec_name").toString(), "aac");

  const QString hevc = clip("hevc.mp4", withCodecs(test::standardClipArguments(1), {"-c:v", "libx265", "-tag:v", "hev1"}));
  probed = exportAndCheck(hevc, media::kTypeCodeMovie, path("hevc_QT.mov"));
  EXPECT_EQ(test::firstStream(probed, "video").value("codec_tag_string").toString(), "hvc1");

  // A sound track whose header names no channels can be neither copied nor
  // converted: it is left out and named, and the file opens.
  QFile wave(clip("tone2.wav", {"-f", "lavfi", "-i", "sine=duration=2", "-c:a", "pcm_s16le"}));
  ASSERT_TRUE(wave.open(QIODevice::ReadOnly));
  QByteArray header = wave.readAll();
  header[22] = header[23] = 0;  // the format chunk's channel count
  test::writeFile(path("silent0.wav"), header);
  const QString noChannels = clip("nochannels.mov", {"-i", baseline, "-i", path("silent0.wav"), "-map", "0:v", "-map", "1", "-c", "copy"});
  EXPECT_EQ(run(noChannels, media::kTypeCodeMovie, path("nochannels_QT.mov")).leftOut, "1 sound track");
  probed = test::probe(path("nochannels_QT.mov"));
  EXPECT_EQ(test::firstStream(probed, "video").value("codec_name").toString(), "h264");
  EXPECT_TRUE(test::firstStream(probed, "audio").isEmpty());

  const QString flash = clip("flash.flv", withCodecs(test::standardClipArguments(2), {"-c:v", "flv1", "-ar", "44100"}));
  probed = exportAndCheck(flash, media::kTypeCodeMovie, path("flash_QT.mov"));
  EXPECT_EQ(test::firstStream(probed, "video").value("codec_name").toString(), "h264");

  // A Matroska file that states wider pixels than its H.264 headers do, as a
  // remux with a new aspect leaves it: the copy shows the file's 16:9; a
  // device, which may follow either, gets a conversion that shows it too.
  const QString square = clip("square.mp4", {"-f", "lavfi", "-i", "testsrc2=size=480x360:rate=30:duration=2", "-c:v",
                                             "libx264", "-profile:v", "main", "-pix_fmt", "yuv420p"});
  const QString stretched = clip("stretched.mkv", {"-i", square, "-c", "copy", "-aspect", "16:9"});
  probed = exportAndCheck(stretched, media::kTypeCodeMovie, path("stretched_QT.mov"));
  EXPECT_EQ(test::firstStream(probed, "video").value("display_aspect_ratio").toString(), "16:9");
  const auto device = run(stretched, media::kTypeCodeiPhone, path("stretched_iPhone.m4v"));
  EXPECT_EQ(device.status, ExportResult::Finished) << device.reason.toStdString();
  EXPECT_FALSE(device.pictureCopied);
  probed = test::probe(path("stretched_iPhone.m4v"));
  EXPECT_EQ(test::firstStream(probed, "video").value("display_aspect_ratio").toString(), "16:9");
  // A display size rounded to whole pixels states the same shape: copied.
  const QString rounded = clip("rounded.mkv", {"-i", square, "-c", "copy", "-aspect", "480:359"});
  EXPECT_TRUE(run(rounded, media::kTypeCodeiPhone, path("rounded_iPhone.m4v")).pictureCopied);
}

// The MD5 of the packets of a file's first picture or sound track, as they are stored.
QByteArray packetsMd5(const QString& movie, const QString& track = QStringLiteral("0:v:0")) {
  QByteArray out;
  test::runProgram("ffmpeg", {"-v", "error", "-i", movie, "-map", track, "-c", "copy", "-f", "md5", "-"}, &out);
  return out.trimmed();
}

TEST_F(ExporterTest, DeviceReadyPicturesGoInBitForBit) {
  test::writeFile(path("ready.txt"), ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
                                     "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=3000\ntitle=Two\n");
  // Matroska, which states no sound rate: the sound's packets are measured.
  const auto readyClip = [&](const QString& name, const QStringList& picture, const QString& soundRate = "128k") {
    return clip(name, QStringList{"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=3", "-f", "lavfi", "-i",
                                  "sine=frequency=440:sample_rate=48000:duration=3", "-i", path("subs.srt"), "-i",
                                  path("ready.txt"), "-map", "0", "-map", "1", "-map", "2", "-map_chapters", "3",
                                  "-pix_fmt", "yuv420p", "-c:v", "libx264"} +
                          picture + QStringList{"-maxrate", "800k", "-bufsize", "800k", "-ac", "2", "-c:a", "aac", "-b:a", soundRate, "-c:s", "srt"});
  };
  const QString ready = readyClip("ready.mkv", {"-profile:v", "main", "-level", "3.0"});
  const QString baseline = readyClip("ready_base.mkv", {"-profile:v", "baseline", "-level", "3.0"});
  // 60 frames a second and 240 kb/s of sound: above the iPod's caps, so both are converted.
  const QString fast = readyClip("ready60.mkv", {"-profile:v", "main", "-level", "3.2", "-r", "60"}, "256k");
  for (const auto& [source, target, output] : {std::tuple{ready, media::kTypeCodeiPhone, path("ready_iPhone.m4v")},
                                                std::tuple{ready, media::kTypeCodeAppleTV, path("ready_ATV.m4v")},
                                                std::tuple{baseline, media::kTypeCodeiPod, path("ready_iPod.m4v")}}) {
    exportAndCheck(source, target, output);
    EXPECT_EQ(packetsMd5(output), packetsMd5(source)) << output.toStdString() << ": the picture went in as it was";
    EXPECT_EQ(packetsMd5(output, "0:a:0"), packetsMd5(source, "0:a:0")) << output.toStdString() << ": and the sound";
    EXPECT_EQ(packetsMd5(output).isEmpty(), false);
  }
  EXPECT_TRUE(run(ready, media::kTypeCodeAppleTV, path("ready_ATV.m4v")).pictureCopied);
  const QJsonObject atv = test::probe(path("ready_ATV.m4v"));
  EXPECT_EQ(test::firstStream(atv, "subtitle").value("codec_name").toString(), "mov_text") << "subtitles as today";
  QByteArray chapters;
  test::runProgram("ffprobe", {"-v", "error", "-show_chapters", "-of", "csv=p=0", path("ready_ATV.m4v")}, &chapters);
  EXPECT_EQ(chapters.count('\n'), 2) << chapters.toStdString();
  // Matroska times in milliseconds; the copy's pictures last 1/30 s each, its
  // sound frames their 1024 samples.
  EXPECT_EQ(test::firstStream(atv, "video").value("avg_frame_rate").toString(), "30/1");
  QByteArray durations;
  test::runProgram("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries", "packet=duration", "-of",
                               "csv=p=0", path("ready_ATV.m4v")}, &durations);
  QStringList lengths = QString::fromLatin1(durations).split('\n', Qt::SkipEmptyParts);
  ASSERT_GT(lengths.size(), 100);
  lengths.removeLast();  // the last frame may be cut short
  EXPECT_EQ(lengths.count(QStringLiteral("1024")), lengths.size()) << durations.left(200).toStdString();
  const auto converted = run(fast, media::kTypeCodeiPod, path("ready60_iPod.m4v"));
  ASSERT_EQ(converted.status, ExportResult::Finished);
  EXPECT_FALSE(converted.pictureCopied);
  EXPECT_NE(packetsMd5(path("ready60_iPod.m4v")), packetsMd5(fast));
  const QJsonObject iPod = test::probe(path("ready60_iPod.m4v"));
  EXPECT_EQ(test::firstStream(iPod, "video").value("r_frame_rate").toString(), "30/1");
  EXPECT_LE(test::firstStream(iPod, "audio").value("bit_rate").toString().toInt(), 160000);
  // A calm picture with one busy second: within the iPod's 1.5 Mb/s on
  // average, above it in that second (some 2.2 Mb/s), so it is converted.
  const QString burst = clip("burst.mkv", {"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=4", "-vf",
                                           "noise=alls=9:allf=t:enable='between(t,3,4)'", "-pix_fmt", "yuv420p", "-c:v",
                                           "libx264", "-profile:v", "baseline", "-level", "3.0", "-preset", "veryfast"});
  ASSERT_LT(test::probe(burst).value("format").toObject().value("bit_rate").toString().toInt(), 1'500'000);
  const auto busy = run(burst, media::kTypeCodeiPod, path("burst_iPod.m4v"));
  EXPECT_EQ(busy.status, ExportResult::Finished);
  EXPECT_FALSE(busy.pictureCopied) << "the busy second is above the iPod's cap";

  // A broadcast whose sound begins half a second after its picture: 2 s in,
  // the picture turns white as a tone starts, in the iPhone's copy of the
  // picture as in the iPod's conversion. Kept in Matroska with the
  // broadcast's times, a chapter marks the white: it comes 2 s in too.
  const QString late = clip("late_sound.ts", {"-f", "lavfi", "-i",
                                              "color=c=black:size=320x240:rate=30:duration=4,"
                                              "drawbox=w=iw:h=ih:color=white:t=fill:enable='gte(t,2)'",
                                              "-itsoffset", "0.5", "-f", "lavfi", "-i",
                                              "aevalsrc=if(gte(t\\,1.5)\\,0.5*sin(2*PI*1000*t)\\,0):s=48000:d=3.5",
                                              "-pix_fmt", "yuv420p", "-c:v", "libx264", "-profile:v", "main", "-level", "3.0",
                                              "-c:a", "mp2"});
  const QString lateStart = test::firstStream(test::probe(late), "video").value("start_time").toString();
  test::writeFile(path("late.txt"), QString(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000000\nSTART=0\nEND=%1\ntitle=Dark\n"
                                            "[CHAPTER]\nTIMEBASE=1/1000000\nSTART=%1\nEND=%2\ntitle=White\n")
                                        .arg(std::llround((lateStart.toDouble() + 2) * 1e6))
                                        .arg(std::llround((lateStart.toDouble() + 4) * 1e6))
                                        .toUtf8());
  const QString kept = clip("late_sound.mkv", {"-copyts", "-i", late, "-i", path("late.txt"), "-map", "0", "-map_chapters", "1", "-c", "copy"});
  for (const auto& [source, target, output, copied] :
       {std::tuple{late, media::kTypeCodeiPhone, path("late_sound_iPhone.m4v"), true},
        std::tuple{late, media::kTypeCodeiPod, path("late_sound_iPod.m4v"), false},
        std::tuple{kept, media::kTypeCodeAppleTV, path("late_sound_ATV.m4v"), true}}) {
    ASSERT_EQ(run(source, target, output).pictureCopied, copied) << output.toStdString();
    EXPECT_LT(regionMean(output, "1.95", "100:100:110:70"), 50) << output.toStdString();
    EXPECT_GT(regionMean(output, "2.05", "100:100:110:70"), 200) << output.toStdString();
    const std::vector<float> sound = monoSound(output, "aresample=async=1:first_pts=0");
    const auto tone = std::find_if(sound.begin(), sound.end(), [](float sample) { return std::abs(sample) > 0.1F; });
    EXPECT_NEAR(double(tone - sound.begin()) / 48000, 2.0, 0.04) << output.toStdString() << ": the tone starts with the white";
  }
  QByteArray shown;
  test::runProgram("ffprobe", {"-v", "error", "-show_chapters", "-of", "json", path("late_sound_ATV.m4v")}, &shown);
  const QJsonArray marks = QJsonDocument::fromJson(shown).object().value("chapters").toArray();
  ASSERT_EQ(marks.size(), 2);
  EXPECT_NEAR(marks.at(1).toObject().value("start_time").toString().toDouble(), 2.0, 0.01) << "the chapter marks the white";
}

TEST_F(ExporterTest, CancellingLeavesNothingBehind) {
  const QString source = clip("long.mkv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=8", "-c:v", "ffv1"});
  const QString output = path("long_iPhone.m4v");
  answer = [](size_t call) { return call < 3; };
  auto outcome = run(source, media::kTypeCodeiPhone, output);
  EXPECT_EQ(outcome.status, ExportResult::Cancelled);
  EXPECT_EQ(progress.size(), 3u) << "no progress call after the one that answered no";
  EXPECT_FALSE(QFile::exists(output));
  EXPECT_FALSE(QFile::exists(media::temporaryOutputPath(output)));

  answer = [](size_t) { return true; };
  interrupt = true;
  outcome = run(source, media::kTypeCodeiPhone, output);
  EXPECT_EQ(outcome.status, ExportResult::Cancelled);
  EXPECT_FALSE(QFile::exists(output));
  EXPECT_FALSE(QFile::exists(media::temporaryOutputPath(output)));
}

// The SSIM of a movie's picture against another's, frame by frame.
double ssimOf(const QString& movie, const QString& reference) {
  QProcess ffmpeg;
  ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
  ffmpeg.start("ffmpeg", {"-v", "info", "-nostats", "-i", movie, "-i", reference, "-lavfi", "[0:v][1:v]ssim", "-f", "null", "-"});
  ffmpeg.waitForFinished(60000);
  return QString::fromUtf8(ffmpeg.readAll()).section("All:", 1).section(' ', 0, 0).toDouble();
}

// The times of a file's picture frames, in order of display.
QStringList pictureTimes(const QString& movie) {
  QByteArray out;
  test::runProgram("ffprobe", {"-v", "error", "-select_streams", "v", "-show_entries", "packet=pts_time", "-of", "csv=p=0", movie}, &out);
  QStringList times = QString::fromLatin1(out).split('\n', Qt::SkipEmptyParts);
  std::sort(times.begin(), times.end(), [](const QString& a, const QString& b) { return a.toDouble() < b.toDouble(); });
  return times;
}

TEST_F(ExporterTest, AnInterruptedExportGoesOnFromItsKeptPieces) {
  // Six seconds in pieces of one, with a forced red box on screen from
  // 0.2 s to 5.8 s: a whole export to compare with first.
  ASSERT_EQ(test::runProgram(qEnvironmentVariable("TOVIX_BIN_DIR") + "/picture_subtitles", {path("line.mkv"), "160", "120", "200-5800", "ffff0000"}), 0);
  const QString source = clip("pieces.mkv", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30:duration=6",
                                             "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=6",
                                             "-i", path("line.mkv"), "-map", "0", "-map", "1", "-map", "2", "-pix_fmt", "yuv420p",
                                             "-c:v", "mpeg4", "-c:a", "aac", "-c:s", "copy", "-disposition:s:0", "forced"});
  pieceUs = 1'000'000;
  const QString whole = path("whole_iPhone.m4v");
  const auto once = run(source, media::kTypeCodeiPhone, whole);
  ASSERT_EQ(once.status, ExportResult::Finished);
  const QString output = path("pieces_iPhone.m4v");
  const QString kept = paths::keptWorkFolder(source, QString::number(media::kTypeCodeiPhone), output);
  const auto stopAtHalf = [&] {
    answer = [this](size_t) { return progress.back() < 0.5; };
    const auto stopped = run(source, media::kTypeCodeiPhone, output);
    answer = [](size_t) { return true; };
    EXPECT_EQ(stopped.status, ExportResult::Cancelled);
    return stopped.keptFraction;
  };
  const auto resume = [&](double from, const char* what) {
    const auto resumed = run(source, media::kTypeCodeiPhone, output);
    EXPECT_EQ(resumed.status, ExportResult::Finished) << what;
    EXPECT_NEAR(resumed.resumedFrom, from, 0.01) << what;
    // The shares count in the whole export, of which the picture is 95 %.
    EXPECT_NEAR(double(resumed.framesEncoded), once.framesEncoded * (1 - from / 0.95), 31)
        << what << ": only what was not kept is converted";
    // The same movie as the export that never stopped: the same frames at
    // the same times, as close to the source (two runs of x264 in one
    // process may choose differently here and there).
    EXPECT_NEAR(ssimOf(output, source), ssimOf(whole, source), 0.005) << what;
    EXPECT_EQ(pictureTimes(output), pictureTimes(whole)) << what;
    // The line began before the first piece this run made, and shows in it.
    if (const long firstNew = std::lround(from / 0.95 * 6); firstNew < 6) {
      const QString at = QString::number(firstNew + 0.5);
      EXPECT_GT(regionMean(output, qPrintable(at), "30:8:65:98", "VAVG"), 200) << what << " at " << qPrintable(at);
    }
    EXPECT_FALSE(QFileInfo::exists(kept)) << "finished, its pieces go";
    QFile::remove(output);
  };
  EXPECT_EQ(once.framesEncoded, 180);
  double keptFraction = stopAtHalf();
  EXPECT_TRUE(keptFraction > 0.15 && keptFraction < 1) << keptFraction << ": Stop keeps the finished pieces";
  resume(keptFraction, "stopped half way");
  EXPECT_GE(progress.at(1), keptFraction * 0.9) << "progress goes on from there";

  // A piece cut short is made again with those after it; a damaged record
  // or a changed source starts over; nothing is ever joined wrong.
  keptFraction = stopAtHalf();
  const int pieces = int(std::lround(keptFraction / 0.95 * 6));
  QFile last(kept + QString("/piece-%1").arg(pieces - 1, 5, 10, QChar('0')));
  ASSERT_TRUE(last.resize(last.size() - 1));
  resume(keptFraction - 0.95 / 6, "a piece cut short");
  stopAtHalf();
  test::writeFile(kept + "/manifest.json", "{\"identity\": ");
  resume(0, "a damaged record");
  stopAtHalf();
  QFile touched(source);
  ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
  ASSERT_TRUE(touched.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
  touched.close();
  resume(0, "a changed source");

  // A disk that fills while a piece is written: that piece goes, the
  // failure says why, and the pieces before it are kept.
  answer = [this](size_t) {
    if (progress.back() > 0.5) {
      const rlimit tiny{1, RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &tiny);
    }
    return true;
  };
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  const auto full = run(source, media::kTypeCodeiPhone, output);
  setrlimit(RLIMIT_FSIZE, &before);
  answer = [](size_t) { return true; };
  EXPECT_EQ(full.status, ExportResult::Failed);
  EXPECT_EQ(full.reason, "the export file could not be written.");
  EXPECT_GT(full.keptFraction, 0.3);
  resume(full.keptFraction, "after a full disk");
}

TEST_F(ExporterTest, ProgressOfASourceWithoutDurationFollowsTheBytesRead) {
  const QString raw = clip("raw.h264", {"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=6",
                                       "-c:v", "libx264", "-preset", "ultrafast", "-f", "h264"});
  exportAndCheck(raw, media::kTypeCodeiPod, path("raw_iPod.m4v"));
  EXPECT_TRUE(std::any_of(progress.begin(), progress.end(), [](double f) { return f > 0.1 && f < 0.9; }))
      << progress.size() << " calls";
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST_F(ExporterTest, ASourceChangedDuringTheExportFailsAndLeavesNothing) {
  const QString source = path("shrinking.mkv");
  QFile::copy(clip("long.mkv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=8", "-c:v", "ffv1"}), source);
  answer = [&source](size_t call) {
    if (call == 2) QFile::resize(source, QFileInfo(source).size() / 3);
    return true;
  };
  const QString output = path("shrinking_iPod.m4v");
  auto outcome = run(source, media::kTypeCodeiPod, output);
  EXPECT_EQ(outcome.status, ExportResult::Failed);

  // Replaced by another file of the same size and modification time.
  QFile::remove(source);
  ASSERT_TRUE(QFile::copy(clip("long.mkv", {}), source));
  answer = [&source](size_t call) {
    if (call != 2) return true;
    const QString other = source + ".other";
    QFile::copy(source, other);
    struct stat original {};
    ::stat(QFile::encodeName(source).constData(), &original);
    const timespec times[2] = {original.st_atim, original.st_mtim};
    ::utimensat(AT_FDCWD, QFile::encodeName(other).constData(), times, 0);
    ::rename(QFile::encodeName(other).constData(), QFile::encodeName(source).constData());
    return true;
  };
  outcome = run(source, media::kTypeCodeiPod, output);
  EXPECT_EQ(outcome.status, ExportResult::Failed);
  EXPECT_EQ(outcome.reason, "the movie file changed while it was being converted.");
  EXPECT_FALSE(QFile::exists(output));
  EXPECT_FALSE(QFile::exists(media::temporaryOutputPath(output)));
}

TEST_F(ExporterTest, FailuresLeaveNothingBehindAndKeepAnOldOutput) {
  test::writeFile(path("fake.avi"), "not a movie");
  auto outcome = run(path("fake.avi"), media::kTypeCodeiPhone, path("fake_iPhone.m4v"));
  EXPECT_EQ(outcome.status, ExportResult::Failed);
  EXPECT_FALSE(outcome.reason.isEmpty());
  EXPECT_FALSE(QFile::exists(path("fake_iPhone.m4v")));

  const QString source = clip("av.mov", withCodecs(test::standardClipArguments(2), {"-c:v", "mpeg4", "-c:a", "pcm_s16le", "-ac", "2"}));
  outcome = run(source, media::kTypeCodeiPhone, path("no such folder/av_iPhone.m4v"));
  EXPECT_EQ(outcome.status, ExportResult::Failed);

  test::writeFile(path("keep_QT.mov"), "previous export");
  answer = [](size_t call) { return call < 2; };
  run(source, media::kTypeCodeMovie, path("keep_QT.mov"));
  QFile kept(path("keep_QT.mov"));
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), QByteArray("previous export")) << "a cancelled export leaves the old file alone";

  EXPECT_EQ(run(source, 0x12345678, path("x.m4v")).status, ExportResult::Failed);

  // A folder that goes away during the export is named as the cause.
  QDir().mkpath(path("going"));
  answer = [this](size_t call) { return call != 2 || QDir(path("going")).removeRecursively(); };
  outcome = run(source, media::kTypeCodeiPod, path("going/av_iPod.m4v"));
  EXPECT_EQ(outcome.status, ExportResult::Failed);
  EXPECT_EQ(outcome.reason, "the export folder disappeared.");
}

TEST_F(ExporterTest, NamesAlwaysFitTheFolder) {
  EXPECT_EQ(media::numberedPath("/m/Trip.2024_iPod.m4v", 2), "/m/Trip.2024_iPod 2.m4v");
  // 124 two-byte letters and the suffix make 257 bytes: the name is cut
  // between letters, the suffix and a number stay whole.
  const QString source = clip("av.mov", {});
  const QString longName = path(QString(124, QChar(0xE9)) + "_iPod.m4v");
  for (const char* expectedEnd : {"_iPod.m4v", "_iPod 2.m4v"}) {
    const auto outcome = run(source, media::kTypeCodeiPod, longName);
    ASSERT_EQ(outcome.status, ExportResult::Finished) << outcome.reason.toStdString();
    const QString name = QFileInfo(outcome.writtenPath).fileName();
    EXPECT_LE(name.toUtf8().size(), media::kMaxNameBytes);
    EXPECT_TRUE(name.endsWith(expectedEnd)) << name.toStdString();
    EXPECT_TRUE(name.startsWith(QString(100, QChar(0xE9))));
    EXPECT_TRUE(QFile::exists(outcome.writtenPath));
  }
  EXPECT_LE(QFileInfo(media::temporaryOutputPath(longName)).fileName().toUtf8().size(), media::kMaxNameBytes);
  EXPECT_EQ(media::portableName("a:b?c*.m4v"), "a_b_c_.m4v");
  // A megabyte of name is cut in one pass; never inside a character.
  EXPECT_EQ(media::fittedName(QString(1 << 20, u'x') + "_iPod.m4v", 9), QString(246, u'x') + "_iPod.m4v");
  EXPECT_EQ(media::fittedName(QString(200, QChar(0xE9)) + "_iPod.m4v", 9), QString(123, QChar(0xE9)) + "_iPod.m4v");
  const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");  // four bytes, two UTF-16 units
  EXPECT_EQ(media::fittedName(smile.repeated(80) + "_iPod.m4v", 9), smile.repeated(61) + "_iPod.m4v");

  // Folders that refuse a name: FAT through FUSE answers EPERM, the
  // kernel's FAT driver EINVAL (the stand-in below); the portable name is taken.
  for (const char* name : {"Take: one?_iPod.m4v", "Take: two*_iPod.m4v"}) {
    const auto outcome = run(source, media::kTypeCodeiPod, path(name));
    ASSERT_EQ(outcome.status, ExportResult::Finished) << name << outcome.detail.toStdString();
    EXPECT_EQ(QFileInfo(outcome.writtenPath).fileName(), media::portableName(name));
  }
}

TEST_F(ExporterTest, AFinishedFileIsCheckedAgainstThePlan) {
  const QString source = clip("av.mov", withCodecs(test::standardClipArguments(2), {"-c:v", "mpeg4", "-c:a", "pcm_s16le", "-ac", "2"}));
  ASSERT_EQ(run(source, media::kTypeCodeiPhone, path("checked_iPhone.m4v")).status, ExportResult::Finished);
  const QString written = path("checked_iPhone.m4v");
  media::PlannedOutput planned{1, 1, 0, 0, 2'000'000, 34'000};
  EXPECT_EQ(media::checkWrittenMovie(written, planned), std::nullopt);
  planned.sounds = 2;
  EXPECT_NE(media::checkWrittenMovie(written, planned), std::nullopt) << "a track missing";
  planned.sounds = 1;
  planned.endUs = 2'100'000;
  EXPECT_NE(media::checkWrittenMovie(written, planned), std::nullopt) << "shorter than the movie by more than a frame";
  test::writeFile(path("broken_iPhone.m4v"), "not a movie");
  EXPECT_NE(media::checkWrittenMovie(path("broken_iPhone.m4v"), planned), std::nullopt);
}
