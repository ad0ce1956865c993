// Runs one export with TovixHelper's export code and prints its wall time.
// Usage: bench_export SOURCE OUTPUT TYPECODE [x264-speed-preset [CRF]]
// (an empty speed preset keeps the default);
// bench_export --encoder-arguments TYPECODE prints the target's CRF and x264
// settings beyond its speed preset as ffmpeg arguments, for the command lines
// the benchmarks measure beside it.
#include "media/ExportPreset.h"
#include "media/Exporter.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>

namespace {

uint32_t typeCodeOf(const char* text) {
  const auto* code = reinterpret_cast<const unsigned char*>(text);
  return (uint32_t(code[0]) << 24) | (uint32_t(code[1]) << 16) | (uint32_t(code[2]) << 8) | code[3];
}

int printEncoderArguments(const char* typeCode) {
  const auto preset = tovix::media::presetForTypeCode(typeCodeOf(typeCode));
  if (!preset) return 2;
  std::printf("-crf %d ", preset->crf);
  if (preset->referenceFrames) std::printf("-refs %d ", preset->referenceFrames);
  if (*preset->x264Options) std::printf("-x264-params %s", preset->x264Options);
  std::printf("\n");
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 3 && std::strcmp(argv[1], "--encoder-arguments") == 0 && std::strlen(argv[2]) == 4)
    return printEncoderArguments(argv[2]);
  QCoreApplication application(argc, argv);
  if (argc < 4 || std::strlen(argv[3]) != 4) {
    std::fprintf(stderr, "usage: bench_export SOURCE OUTPUT TYPECODE [PRESET [CRF]]\n");
    return 2;
  }
  tovix::media::ExportJob job;
  job.source = QString::fromLocal8Bit(argv[1]);
  job.output = QString::fromLocal8Bit(argv[2]);
  job.typeCode = typeCodeOf(argv[3]);
  if (argc > 4) job.speedPreset = QString::fromLocal8Bit(argv[4]);
  if (argc > 5) job.crf = std::atoi(argv[5]);
  // TOVIX_X264="subme=8:trellis=2" tries x264 options in place of the target's own.
  job.x264Options = qEnvironmentVariable("TOVIX_X264");
  // TOVIX_COPY=0 converts a picture the device could play as it is (the preference off).
  job.copyWhatPlays = qEnvironmentVariable("TOVIX_COPY") != QLatin1String("0");
  const auto start = std::chrono::steady_clock::now();
  const auto outcome = tovix::media::exportMovie(job);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f\n", seconds);
  if (outcome.status != tovix::protocol::ExportResult::Finished)
    std::fprintf(stderr, "export failed: %s\n", outcome.reason.toLocal8Bit().constData());
  return outcome.status == tovix::protocol::ExportResult::Finished ? 0 : 1;
}
