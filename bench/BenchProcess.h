// Figures of this process and of its archive reader that the benchmarks print: CPU time,
// resident size and peak from /proc, and a peak that can be restarted.
#pragma once

#include <time.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "archive/ReaderClient.h"

namespace velmora::bench {

// CPU time of this process in ms: a second figure that other load on the machine disturbs less.
inline double CpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when absent.
inline long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(field);
  while (std::getline(in, line)) {
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') return std::atol(line.c_str() + n + 1);
  }
  return -1;
}

// Writing 5 to clear_refs restarts the peak (VmHWM) at the current resident size.
inline void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The archive reader process makes the StormLib calls: its CPU time and memory growth count as
// the viewer's. Its peak restarts with `resetPeak`.
struct TReaderFigures {
  double cpuMs = 0;
  long rssKiB = 0;
  long peakKiB = 0;
};
inline TReaderFigures ReaderFigures(bool resetPeak) {
  const auto u = TArchiveReader::Instance().Usage();
  if (!u) return {};
  if (resetPeak) std::ofstream("/proc/" + std::to_string(u->pid) + "/clear_refs") << "5";
  return {u->cpuMs, u->rssKiB, u->peakRssKiB};
}

}  // namespace velmora::bench
