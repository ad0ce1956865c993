// Runs one export with TovixHelper's export code and prints its wall time.
// Usage: bench_export SOURCE OUTPUT TYPECODE [x264-speed-preset [CRF]]
// (an empty speed preset keeps the default)
#include "media/Exporter.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  if (argc < 4 || std::strlen(argv[3]) != 4) {
    std::fprintf(stderr, "usage: bench_export SOURCE OUTPUT TYPECODE [PRESET [CRF]]\n");
    return 2;
  }
  tovix::media::ExportJob job;
  job.source = QString::fromLocal8Bit(argv[1]);
  job.output = QString::fromLocal8Bit(argv[2]);
  const auto* code = reinterpret_cast<const unsigned char*>(argv[3]);
  job.typeCode = (uint32_t(code[0]) << 24) | (uint32_t(code[1]) << 16) | (uint32_t(code[2]) << 8) | code[3];
  if (argc > 4) job.speedPreset = QString::fromLocal8Bit(argv[4]);
  if (argc > 5) job.crf = std::atoi(argv[5]);
  // TOVIX_X264="subme=8:trellis=2" tries x264 options beyond the preset.
  job.x264Options = qEnvironmentVariable("TOVIX_X264");
  const auto start = std::chrono::steady_clock::now();
  const auto outcome = tovix::media::exportMovie(job);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f\n", seconds);
  if (outcome.status != tovix::media::ExportStatus::Finished)
    std::fprintf(stderr, "export failed: %s\n", outcome.reason.toLocal8Bit().constData());
  return outcome.status == tovix::media::ExportStatus::Finished ? 0 : 1;
}
