// The PNG export: patterns, output names, and the reader/worker pipeline.
#include "blp/BlpExport.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <span>
#include <thread>

#include "archive/PathParts.h"
#include "archive/Zanth.h"
#include "base/Ascii.h"
#include "base/FileRead.h"
#include "blp/BlpDecode.h"
#include "blp/PngWrite.h"

namespace velmora::blp {
namespace {

// Bytes of the UTF-8 sequence that starts at s[i]; 1 for a byte that starts none.
std::size_t SequenceLength(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  std::size_t n = 1;
  if ((c & 0xE0) == 0xC0) n = 2;
  else if ((c & 0xF0) == 0xE0) n = 3;
  else if ((c & 0xF8) == 0xF0) n = 4;
  return std::min(n, s.size() - i);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// mkdir -p that tolerates another thread creating the same folder meanwhile.
bool MakeDirectories(const std::string& dir, std::string& error) {
  if (dir.empty()) return true;
  for (std::size_t at = dir.find('/', 1);; at = dir.find('/', at + 1)) {
    const std::string part = dir.substr(0, at);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      error = "cannot create folder " + part + ": " + std::strerror(errno);
      return false;
    }
    if (at == std::string::npos) break;
  }
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = "cannot create folder " + dir + ": a file of that name is in the way";
    return false;
  }
  return true;
}

struct TJob {
  std::size_t index = 0;
  std::string path;  // for messages
  std::string base;  // output name without extension, outDir included
  std::string bytes;
};

struct TResult {
  std::string path;
  std::string reason;  // empty when every image was written
  std::size_t images = 0;
  std::uint64_t bytesWritten = 0;
};

// One file's bytes to its images.
TResult Convert(const TJob& job, const TExportOptions& options) {
  TResult r;
  r.path = job.path;
  try {
    TMemorySource source(std::span(reinterpret_cast<const std::uint8_t*>(job.bytes.data()), job.bytes.size()));
    const TBLP2Header hdr = ReadBlpHeader(source);
    if (job.bytes.size() < TBLP2Header::kSize) {
      r.reason = "file of " + std::to_string(job.bytes.size()) + " bytes is shorter than a BLP2 header";
      return r;
    }
    if (const auto problem = CheckBlpHeader(hdr, source.Size(), options.maxTextureSize)) {
      r.reason = problem->message;
      return r;
    }
    // Without --mips only level 0 is written, so only level 0 is read and decoded.
    const int wanted = options.mips ? kMaxLevels : 1;
    const TBlpLevels levels = DecodeBlpLevels(source, hdr, {.dxtAsBlocks = true, .maxLevels = wanted});
    if (!levels.complete) {
      r.reason = "the palette (1024 bytes at offset 148) is missing";
      return r;
    }
    if (levels.levels.empty()) {
      r.reason = "no level 0: offsets[0] " + std::to_string(hdr.offsets[0]) + ", sizes[0] " + std::to_string(hdr.sizes[0]);
      return r;
    }
    const std::size_t count = options.mips ? levels.levels.size() : 1;
    for (std::size_t i = 0; i < count; ++i) {
      if (levels.levels[i].missingBytes > 0) {
        r.reason = "level " + std::to_string(i) + " lacks " + std::to_string(levels.levels[i].missingBytes) +
                   " bytes (the file ends early or sizes[" + std::to_string(i) + "] is too small)";
        return r;
      }
    }
    const std::size_t slash = job.base.rfind('/');
    if (slash != std::string::npos && !MakeDirectories(job.base.substr(0, slash), r.reason)) return r;
    for (std::size_t i = 0; i < count; ++i) {
      const TRgbaPixels pixels = LevelToRgba(levels, i);
      const std::vector<std::uint8_t> png = EncodePng(pixels.width, pixels.height, pixels.bytes.data());
      if (!WriteFileAtomically(ExportImageName(job.base, i), png, r.reason)) return r;
      ++r.images;
      r.bytesWritten += png.size();
    }
  } catch (const std::bad_alloc&) {
    r.reason = "out of memory";
  } catch (const std::exception& e) {
    r.reason = e.what();
  }
  return r;
}

// The queue between the reading thread and the workers, and the results coming back.
class TPipeline {
public:
  TPipeline(const TExportOptions& options, unsigned workers) : options_(options) {
    // Enough read-ahead to keep every worker busy, bounded in bytes for very large files.
    maxJobs_ = std::size_t{workers} * 2 + 1;
    for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~TPipeline() { Finish(); }
  TPipeline(const TPipeline&) = delete;
  TPipeline& operator=(const TPipeline&) = delete;

  // Waits up to `wait` for room, then queues; false when there was no room yet.
  bool TryPush(TJob& job, std::chrono::milliseconds wait) {
    std::unique_lock lock(m_);
    const bool room = changed_.wait_for(lock, wait, [&] {
      return jobs_.empty() || (jobs_.size() < maxJobs_ && queuedBytes_ + job.bytes.size() <= kMaxQueuedBytes);
    });
    if (!room) return false;
    queuedBytes_ += job.bytes.size();
    jobs_.push_back(std::move(job));
    ++pending_;
    work_.notify_one();
    return true;
  }

  // Results that came back since the last call; waits up to `wait` when none has.
  std::vector<TResult> Take(std::chrono::milliseconds wait) {
    std::unique_lock lock(m_);
    changed_.wait_for(lock, wait, [&] { return !results_.empty() || pending_ == 0; });
    std::vector<TResult> out;
    out.swap(results_);
    return out;
  }

  std::size_t Pending() {
    std::lock_guard lock(m_);
    return pending_;
  }

  // Drops the jobs no worker has started; returns how many.
  std::size_t DropQueued() {
    std::lock_guard lock(m_);
    const std::size_t n = jobs_.size();
    jobs_.clear();
    queuedBytes_ = 0;
    pending_ -= n;
    changed_.notify_all();
    return n;
  }

  void Finish() {
    {
      std::lock_guard lock(m_);
      if (closing_) return;
      closing_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

private:
  static constexpr std::size_t kMaxQueuedBytes = std::size_t{256} << 20;

  void Work() {
    for (;;) {
      TJob job;
      {
        std::unique_lock lock(m_);
        work_.wait(lock, [&] { return closing_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
        queuedBytes_ -= job.bytes.size();
        changed_.notify_all();
      }
      TResult r = Convert(job, options_);
      std::lock_guard lock(m_);
      results_.push_back(std::move(r));
      --pending_;
      changed_.notify_all();
    }
  }

  const TExportOptions& options_;
  std::mutex m_;
  std::condition_variable work_;     // workers: a job or the end
  std::condition_variable changed_;  // reader: room, results
  std::deque<TJob> jobs_;
  std::vector<TResult> results_;
  std::size_t maxJobs_ = 1;
  std::size_t queuedBytes_ = 0;
  std::size_t pending_ = 0;  // queued or being converted
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

// Reads one item into job.bytes and names its output; false with the reason.
bool ReadItem(const TExportItem& item, const std::string& outDir, TJob& job, std::string& reason) {
  job.path = item.path;
  std::string_view spelling = item.path;
  if (item.diskPath.empty()) {
    const TFileMpqRec* rec = FileIndex ? FileIndex->Find(UpperAscii(item.path)) : nullptr;
    if (rec == nullptr) {
      reason = "not listed in any archive";
      return false;
    }
    // The listfile line of the archive that supplies the file spells the output.
    spelling = TrimBlanks(rec->full_name);
  }
  const std::optional<std::string> base = ExportBaseName(spelling, &reason);
  if (!base) return false;
  job.base = outDir.empty() ? *base : (outDir.back() == '/' ? outDir : outDir + "/") + *base;

  if (!item.diskPath.empty()) {
    return ReadFileBytes(item.diskPath, job.bytes, reason, static_cast<std::size_t>(kExportMaxFileBytes));
  }
  TFileTrouble trouble;
  const std::unique_ptr<TZanthFileHandler> file = TZanthObject::OpenFileHandler(item.path, trouble);
  if (!file) {
    reason = trouble.Text().empty() ? "cannot be read from its archive (missing there, or empty)" : trouble.Text();
    return false;
  }
  const std::uint64_t size = file->GetSize();
  if (size > kExportMaxFileBytes) {
    reason = "file of " + std::to_string(size) + " bytes (limit " + std::to_string(kExportMaxFileBytes) + ")";
    return false;
  }
  job.bytes.assign(static_cast<std::size_t>(size), '\0');
  if (!file->GetDataByOffset(0, static_cast<std::uint32_t>(size), job.bytes.data())) {
    reason = file->LastStop() != TReaderStop::None
                 ? TFileTrouble{file->LastStop(), {}, {}}.Text()
                 : "reading " + std::to_string(size) + " bytes from its archive failed";
    return false;
  }
  return true;
}

}  // namespace

bool MatchesExportPattern(std::string_view pattern, std::string_view path) {
  std::size_t p = 0, s = 0;
  std::size_t starP = std::string_view::npos, starS = 0;
  while (s < path.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starS = s;
    } else if (p < pattern.size() && pattern[p] == '?') {
      s += SequenceLength(path, s);
      ++p;
    } else if (p < pattern.size() && UpperAsciiChar(pattern[p]) == UpperAsciiChar(path[s])) {
      ++p;
      ++s;
    } else if (starP != std::string_view::npos) {
      // The last '*' takes one more character and the rest is tried again.
      starS += SequenceLength(path, starS);
      s = starS;
      p = starP + 1;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::optional<std::string> ExportBaseName(std::string_view path, std::string* why) {
  std::string out;
  std::size_t begin = 0;
  for (;;) {
    std::size_t end = begin;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::string_view part = path.substr(begin, end - begin);
    if (part.empty() || part == "." || part == "..") {
      if (why) {
        *why = "unsafe output path: " + (part.empty() ? std::string("an empty component") : "component \"" + std::string(part) + "\"");
      }
      return std::nullopt;
    }
    if (!out.empty()) out.push_back('/');
    out.append(part);
    if (end == path.size()) break;
    begin = end + 1;
  }
  const std::size_t slash = out.rfind('/');
  const std::string_view name = std::string_view(out).substr(slash == std::string::npos ? 0 : slash + 1);
  if (name.size() > 4 && EqualNoCase(name.substr(name.size() - 4), ".blp")) out.resize(out.size() - 4);
  return out;
}

std::string ExportImageName(const std::string& base, std::size_t level) {
  return level == 0 ? base + ".png" : base + ".mip" + std::to_string(level) + ".png";
}

bool WritePngFile(const std::string& path, const TRgbaPixels& pixels, std::string& error) {
  try {
    return WriteFileAtomically(path, EncodePng(pixels.width, pixels.height, pixels.bytes.data()), error);
  } catch (const std::bad_alloc&) {
    error = "out of memory";
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

TExportSummary ExportBlpFiles(const std::vector<TExportItem>& items, const TExportOptions& options,
                              TExportEvents& events) {
  using namespace std::chrono_literals;
  TExportSummary summary;
  summary.files = items.size();
  const unsigned workers = options.workers > 0 ? options.workers : std::max(1u, std::thread::hardware_concurrency());
  TPipeline pipeline(options, workers);
  std::size_t done = 0;
  std::string current;

  auto collect = [&](std::chrono::milliseconds wait) {
    for (TResult& r : pipeline.Take(wait)) {
      ++done;
      if (r.reason.empty()) {
        ++summary.written;
      } else {
        ++summary.failed;
        events.Failed(r.path, r.reason);
      }
      summary.images += r.images;
      summary.bytesWritten += r.bytesWritten;
    }
  };
  auto fail = [&](const std::string& path, const std::string& reason) {
    ++done;
    ++summary.failed;
    events.Failed(path, reason);
  };

  for (const TExportItem& item : items) {
    if (events.Cancelled()) {
      summary.cancelled = true;
      break;
    }
    current = item.path;
    events.Progress(done, items.size(), current);
    TJob job;
    std::string reason;
    bool read = false;
    try {
      read = ReadItem(item, options.outDir, job, reason);
    } catch (const std::bad_alloc&) {
      reason = "out of memory";
    }
    if (!read) {
      fail(item.path, reason);
      continue;
    }
    summary.bytesRead += job.bytes.size();
    while (!pipeline.TryPush(job, 50ms)) {
      collect(0ms);
      events.Progress(done, items.size(), current);
      if (events.Cancelled()) {
        summary.cancelled = true;
        break;
      }
    }
    if (summary.cancelled) break;
    collect(0ms);
  }
  if (summary.cancelled) pipeline.DropQueued();
  while (pipeline.Pending() > 0) {
    collect(50ms);
    events.Progress(done, items.size(), current);
  }
  collect(0ms);
  pipeline.Finish();
  events.Progress(done, items.size(), std::string());
  return summary;
}

}  // namespace velmora::blp
