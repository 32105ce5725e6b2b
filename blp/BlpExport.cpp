// The export: patterns, output names, the plan of output files, and the reader/worker pipeline
// that converts (PNG, DDS) and writes them.
#include "blp/BlpExport.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
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
#include <unordered_map>

#include "archive/PathParts.h"
#include "archive/Zanth.h"
#include "base/Ascii.h"
#include "base/FileRead.h"
#include "base/UniqueFd.h"
#include "blp/Blp1Decode.h"
#include "blp/BlpDecode.h"
#include "blp/DdsWrite.h"
#include "blp/ExportFolder.h"
#include "blp/ExportPlan.h"
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

struct TJob {
  std::string path;   // for messages
  std::string base;   // relative to the output folder: without extension (PNG, DDS), whole (raw)
  std::string exact;  // set: the one output file, relative, in place of the names `base` gives
  std::string bytes;
};

// Output file of level `level` of a job, relative to the output folder.
std::string OutputFile(const TJob& job, TExportFormat format, std::size_t level) {
  if (!job.exact.empty()) return job.exact;
  switch (format) {
    case TExportFormat::kDds: return job.base + ".dds";
    case TExportFormat::kRaw: return job.base;
    case TExportFormat::kPng: break;
  }
  return ExportImageName(job.base, level);
}

// Whether a job writes exactly one file, so that a file already there settles it unread.
bool OneOutputFile(const TJob& job, const TExportOptions& options) {
  return !job.exact.empty() || options.format != TExportFormat::kPng || !options.mips;
}

// "a/b/c" -> "a/b" and "c"; "c" -> "" and "c".
std::pair<std::string, std::string> SplitFolder(const std::string& rel) {
  const std::size_t slash = rel.rfind('/');
  if (slash == std::string::npos) return {std::string(), rel};
  return {rel.substr(0, slash), rel.substr(slash + 1)};
}

struct TResult {
  std::string path;
  std::string reason;  // empty when every output file was written or already there
  std::size_t outputs = 0;
  std::size_t skipped = 0;
  std::uint64_t bytesWritten = 0;
};

// The header check and the levels of a texture, every level complete; false with the reason.
bool ReadLevels(TBlpSource& source, std::uint64_t fileBytes, const TExportOptions& options, int wanted,
                TBlpLevels& levels, std::string& reason) {
  const TBLP2Header hdr = ReadBlpHeader(source);
  if (fileBytes < TBLP2Header::kSize) {
    reason = "file of " + std::to_string(fileBytes) + " bytes is shorter than a BLP2 header";
    return false;
  }
  if (hdr.sign == kBlp1Magic) {
    if (!DecodeBlp1ForExport(source, options.maxTextureSize, wanted, levels, reason)) return false;
  } else {
    if (const auto problem = CheckBlpHeader(hdr, source.Size(), options.maxTextureSize)) {
      reason = problem->message;
      return false;
    }
    levels = DecodeBlpLevels(source, hdr, {.dxtAsBlocks = true, .maxLevels = wanted});
    if (!levels.complete) {
      reason = "the palette (1024 bytes at offset 148) is missing";
      return false;
    }
    if (levels.levels.empty()) {
      reason = "no level 0: offsets[0] " + std::to_string(hdr.offsets[0]) + ", sizes[0] " + std::to_string(hdr.sizes[0]);
      return false;
    }
  }
  for (std::size_t i = 0; i < levels.levels.size(); ++i) {
    if (levels.levels[i].missingBytes > 0) {
      reason = "level " + std::to_string(i) + " lacks " + std::to_string(levels.levels[i].missingBytes) +
               " bytes (the file ends early or sizes[" + std::to_string(i) + "] is too small)";
      return false;
    }
  }
  return true;
}

// The folder a thread wrote into last, and the one above it: files come in listfile order, so
// the next one is mostly in the same folder or one beside it, and the walk from the root (an
// openat per component) is saved.
class TLastFolder {
public:
  // The folder `rel` below `out`, opened (and, with `create`, made) as TExportFolder::OpenFolder
  // does; -1 with the reason in `error`. Without `create`, a folder found missing stays missing
  // until another is asked for: files that go there come from this export.
  int Get(const TExportFolder& out, const std::string& rel, bool create, std::string& error) {
    if (rel == folder_.rel && folder_.looked && (folder_.fd.valid() || !create)) return folder_.fd.get();
    const std::size_t slash = rel.rfind('/');
    if (slash == std::string::npos) {
      folder_.Set(rel, out.OpenFolder(rel, error, create));
    } else {
      const std::string parent = rel.substr(0, slash);
      if (parent != parent_.rel || !parent_.looked || (!parent_.fd.valid() && create)) {
        parent_.Set(parent, out.OpenFolder(parent, error, create));
      }
      folder_.Set(rel, parent_.fd.valid()
                           ? out.OpenFolderIn(parent_.fd.get(), parent, rel.substr(slash + 1), error, create)
                           : TFd());
    }
    return folder_.fd.get();
  }

private:
  struct TKept {
    void Set(const std::string& at, TFd opened) {
      fd = std::move(opened);
      rel = at;
      looked = true;
    }
    std::string rel;
    bool looked = false;
    TFd fd;
  };
  TKept parent_;
  TKept folder_;
};

// A DXT texture's DDS file as its blocks where they lie in `file`, when ReadLevels would find
// nothing wrong with its header or levels; nullopt otherwise, and for any other texture.
std::optional<TDdsPieces> DdsOfBlocks(std::span<const std::uint8_t> file, std::uint32_t maxTextureSize) {
  if (file.size() < TBLP2Header::kSize) return std::nullopt;
  TMemorySource source(file);
  const TBLP2Header hdr = ReadBlpHeader(source);
  if (hdr.sign == kBlp1Magic || CheckBlpHeader(hdr, source.Size(), maxTextureSize)) return std::nullopt;
  return DxtDdsPieces(hdr, file);
}

// One file's bytes to its output files.
TResult Convert(const TJob& job, const TExportOptions& options, const TExportFolder& out, TLastFolder& folders,
                TTempNames& temps) {
  TResult r;
  r.path = job.path;
  try {
    const std::span<const std::uint8_t> fileBytes(reinterpret_cast<const std::uint8_t*>(job.bytes.data()),
                                                  job.bytes.size());
    // A DXT texture's DDS file comes straight from its blocks in the file's bytes; any other, or
    // one whose header or levels ReadLevels has something to say about, from its decoded levels.
    const std::optional<TDdsPieces> blocks =
        options.format == TExportFormat::kDds ? DdsOfBlocks(fileBytes, options.maxTextureSize) : std::nullopt;
    TBlpLevels levels;
    std::size_t count = 1;
    if (options.format != TExportFormat::kRaw && !blocks) {
      TMemorySource source(fileBytes);
      // PNG without mips writes level 0 alone, so only level 0 is read and decoded; a DDS file
      // holds every level there is.
      const bool every = options.format == TExportFormat::kDds || (options.mips && job.exact.empty());
      if (!ReadLevels(source, job.bytes.size(), options, every ? kMaxLevels : 1, levels, r.reason)) return r;
      if (options.format == TExportFormat::kPng) count = levels.levels.size();
    }
    const std::string first = OutputFile(job, options.format, 0);
    const auto [folder, name] = SplitFolder(first);
    const int dir = folders.Get(out, folder, true, r.reason);
    if (dir < 0) return r;
    for (std::size_t i = 0; i < count; ++i) {
      // Level 0's names are those above; another level's are made here.
      std::string levelRel, levelName;
      if (i > 0) {
        levelRel = OutputFile(job, options.format, i);
        levelName = SplitFolder(levelRel).second;
      }
      const std::string& rel = i == 0 ? first : levelRel;
      const std::string& file = i == 0 ? name : levelName;
      // A file already there is not made again; the link or rename below settles a race for the name.
      // (The reading thread looked for a job's one file before it read it.)
      if (!options.overwrite && !out.EmptyAtOpen() && !OneOutputFile(job, options) && EntryExists(dir, file)) {
        ++r.skipped;
        continue;
      }
      std::vector<std::uint8_t> encoded;
      std::vector<std::span<const std::uint8_t>> pieces;
      switch (options.format) {
        case TExportFormat::kRaw: pieces.push_back(fileBytes); break;
        case TExportFormat::kDds:
          if (blocks) {
            pieces.push_back(blocks->header);
            pieces.insert(pieces.end(), blocks->levels.begin(), blocks->levels.end());
          } else {
            encoded = EncodeDds(levels, levels.levels.size());
            pieces.push_back(encoded);
          }
          break;
        case TExportFormat::kPng: {
          const TRgbaPixels pixels = LevelToRgba(levels, i);
          // A level whose every alpha is 255 (alpha depth 0, DXT1 without a transparent texel,
          // or simply opaque) is written as RGB.
          const bool alpha = !EveryAlphaOpaque(pixels.bytes.data(), std::size_t{pixels.width} * pixels.height);
          encoded = EncodePng(pixels.width, pixels.height, pixels.bytes.data(), alpha);
          pieces.push_back(encoded);
          break;
        }
      }
      switch (WriteFileAt(dir, file, pieces, options.overwrite, out.Shown(rel), temps, r.reason)) {
        case TWriteOutcome::kFailed: return r;
        case TWriteOutcome::kSkipped: ++r.skipped; break;
        case TWriteOutcome::kWritten:
          ++r.outputs;
          for (const std::span<const std::uint8_t> piece : pieces) r.bytesWritten += piece.size();
          break;
      }
    }
  } catch (const std::bad_alloc&) {
    r.reason = "out of memory";
  } catch (const std::exception& e) {
    r.reason = e.what();
  }
  return r;
}

// The queue between the reading thread and the workers, and the results coming back. Small files
// go through it by the thousand a second, so each side wakes the other only when it waits and
// there is something for it: the reading thread when the queue is down to half (not at every
// job taken) or for results it waits on, a worker when it is idle.
class TPipeline {
public:
  TPipeline(const TExportOptions& options, const TExportFolder& out, unsigned workers) : options_(options), out_(out) {
    // Enough read-ahead to keep every worker busy, bounded in bytes for very large files. A PNG
    // takes long to make, so a few are enough, and a cancel drops the rest. DDS and raw files take
    // microseconds to write, and small ones are read faster than that: the reading runs far ahead,
    // so that the writer still has thousands queued while the reader decompresses a large file.
    maxJobs_ = std::size_t{workers} * 2 + 1;
    if (options.format != TExportFormat::kPng) maxJobs_ = std::max<std::size_t>(maxJobs_, 4096);
    for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~TPipeline() { Finish(); }
  TPipeline(const TPipeline&) = delete;
  TPipeline& operator=(const TPipeline&) = delete;

  // Waits up to `wait` for room, then queues; false when there was no room yet.
  bool TryPush(TJob& job, std::chrono::milliseconds wait) {
    std::unique_lock lock(m_);
    const auto room = [&] {
      return jobs_.empty() || (jobs_.size() < maxJobs_ && queuedBytes_ + job.bytes.size() <= kMaxQueuedBytes);
    };
    if (!room()) {
      pusherWaits_ = true;
      const bool found = changed_.wait_for(lock, wait, room);
      pusherWaits_ = false;
      if (!found) return false;
    }
    queuedBytes_ += job.bytes.size();
    jobs_.push_back(std::move(job));
    ++pending_;
    if (idle_ > 0) work_.notify_one();
    return true;
  }

  // Results that came back since the last call; waits up to `wait` when none has.
  std::vector<TResult> Take(std::chrono::milliseconds wait) {
    std::unique_lock lock(m_);
    if (wait.count() > 0) {
      takerWaits_ = true;
      changed_.wait_for(lock, wait, [&] { return !results_.empty() || pending_ == 0; });
      takerWaits_ = false;
    }
    std::vector<TResult> out;
    out.swap(results_);
    return out;
  }

  std::size_t Pending() {
    std::lock_guard lock(m_);
    return pending_;
  }

  // Converts the first queued job on the calling thread, with its own folders and temporary
  // names, when it is one of at most kHelpBytes; false when there is none such.
  bool Help(TLastFolder& folders, TTempNames& temps) {
    TJob job;
    {
      std::lock_guard lock(m_);
      if (jobs_.empty() || jobs_.front().bytes.size() > kHelpBytes) return false;
      job = PopLocked();
    }
    Done(Convert(job, options_, out_, folders, temps));
    return true;
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
  static constexpr int kWriterNice = 10;
  // Files a helping thread takes on: small enough that it is back to its progress and cancel
  // checks within a millisecond or so.
  static constexpr std::size_t kHelpBytes = std::size_t{1} << 20;

  void Work() {
    // A DDS or raw writer has queued work to spare; the archive reader, which decompresses every
    // file, has none, and a core taken from it holds up the whole export. A nicer writer gives
    // the reader (and the reading thread) a core the moment they wake. Failing that, it writes
    // at the usual priority.
    if (options_.format != TExportFormat::kPng) ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWriterNice);
    TLastFolder folders;
    TTempNames temps;
    for (;;) {
      TJob job;
      {
        std::unique_lock lock(m_);
        ++idle_;
        work_.wait(lock, [&] { return closing_ || !jobs_.empty(); });
        --idle_;
        if (jobs_.empty()) return;
        job = PopLocked();
      }
      Done(Convert(job, options_, out_, folders, temps));
    }
  }

  // The first queued job, taken off the queue; m_ is held.
  TJob PopLocked() {
    TJob job = std::move(jobs_.front());
    jobs_.pop_front();
    queuedBytes_ -= job.bytes.size();
    if (pusherWaits_ && jobs_.size() <= maxJobs_ / 2 && queuedBytes_ <= kMaxQueuedBytes / 2) changed_.notify_all();
    return job;
  }

  void Done(TResult r) {
    std::lock_guard lock(m_);
    results_.push_back(std::move(r));
    --pending_;
    if (takerWaits_) changed_.notify_all();
  }

  const TExportOptions& options_;
  const TExportFolder& out_;
  std::mutex m_;
  std::condition_variable work_;     // workers: a job or the end
  std::condition_variable changed_;  // reader: room, results
  std::deque<TJob> jobs_;
  std::vector<TResult> results_;
  std::size_t maxJobs_ = 1;
  std::size_t queuedBytes_ = 0;
  std::size_t idle_ = 0;     // workers waiting for a job
  bool pusherWaits_ = false;  // the reading thread waits for room
  bool takerWaits_ = false;   // ... for results
  std::size_t pending_ = 0;  // queued or being converted
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

// The index's record of an archive item: the supplier's, or that of the archive the item names;
// none when no archive (or not that one) lists the path.
std::optional<TFileMpqRec> RecordOf(const TExportItem& item) {
  if (!FileIndex) return std::nullopt;
  const std::string key = UpperAscii(item.path);
  if (item.archive == 0) {
    const TFileMpqRec* rec = FileIndex->Find(key);
    return rec != nullptr ? std::optional(*rec) : std::nullopt;
  }
  for (const TFileMpqRec& rec : FileIndex->Sources(key)) {
    if (rec.mpqh == item.archive) return rec;
  }
  return std::nullopt;
}

// The file of an archive item, opened in the archive of its record.
std::unique_ptr<TZanthFileHandler> OpenItem(const TExportItem& item, TFileTrouble& trouble) {
  trouble = {};
  const std::optional<TFileMpqRec> rec = RecordOf(item);
  if (!rec) return nullptr;
  return TZanthObject::OpenFileHandlerIn(rec->mpqh, std::string(rec->full_name), trouble);
}

// The name an item's output is spelt from: for an archive file, the listfile line of the archive
// that supplies it (or that the item names); null when no archive lists it.
std::optional<std::string> OutputSpelling(const TExportItem& item) {
  if (!item.diskPath.empty()) return item.path;
  const std::optional<TFileMpqRec> rec = RecordOf(item);
  if (!rec) return std::nullopt;
  return std::string(TrimBlanks(rec->full_name));
}

// A file read from its archive, as job.bytes; false with the reason.
bool TakeArchiveFile(const TWholeFile& file, TJob& job, std::string& reason) {
  switch (file.status) {
    case TWholeFile::TStatus::Read: return true;
    case TWholeFile::TStatus::Missing:
      reason = "cannot be read from its archive (missing there, or empty)";
      break;
    case TWholeFile::TStatus::TooLarge:
      reason = "file of " + std::to_string(file.size) + " bytes (limit " + std::to_string(kExportMaxFileBytes) + ")";
      break;
    case TWholeFile::TStatus::Failed:
      reason = !file.trouble.Text().empty() ? file.trouble.Text()
                                            : "reading " + std::to_string(file.size) + " bytes from its archive failed";
      break;
  }
  job.bytes.clear();
  return false;
}

// The files of the items, read ahead of the loop that queues them, many small files to a trip to
// the archive reader: from the item asked for on, a run of the items of its archive among the
// next twice as many as a run holds (items of other archives in between, as in a folder that
// patches override in part, wait for a run of their own archive instead of cutting this one
// short), and the next run started before this one's files are taken, so that the reader
// decompresses it while they are queued and written. That is what makes DDS and raw export of
// small textures fast, as they decode nothing; a trip per file cost more than writing it.
class TReadAhead {
public:
  // `empty`: a file of no bytes counts as read. `runMembers`: items per run (at most
  // kMaxRunMembers).
  TReadAhead(const std::vector<TExportItem>& items, bool empty, std::size_t runMembers)
      : items_(items),
        empty_(empty),
        runMembers_(std::min(runMembers, kMaxRunMembers)),
        planned_(items.size(), 0),
        looked_(items.size(), 0),
        records_(items.size()) {}

  // Item i's file into job.bytes; false with the reason. `wanted(j)`: whether item j is to be
  // read at all.
  template <typename TWanted>
  bool Read(std::size_t i, TWanted wanted, TJob& job, std::string& reason) {
    const TExportItem& item = items_[i];
    job.path = item.path;
    if (!item.diskPath.empty()) {
      return ReadFileBytes(item.diskPath, job.bytes, reason, static_cast<std::size_t>(kExportMaxFileBytes));
    }
    auto it = ready_.find(i);
    if (it == ready_.end()) {
      Fill(i, wanted);
      it = ready_.find(i);
    }
    TReady ready = std::move(it->second);
    ready_.erase(it);
    job.bytes = std::move(ready.bytes);
    // Larger than a run reads: on its own, now, up to the export's limit.
    if (ready.file.status == TWholeFile::TStatus::TooLarge && ready.file.size <= kExportMaxFileBytes) {
      ready.file = ReadArchiveFile(ready.archive, ready.member, kExportMaxFileBytes, empty_, job.bytes);
    }
    return TakeArchiveFile(ready.file, job, reason);
  }

  // Starts the first run before it is known which items are wanted (all are taken to be): the
  // reader reads it while the export plans its output. It is larger than the others, as the
  // plan of thousands of files takes as long as reading a few hundred. Should the plan leave out
  // its first item, it is taken and dropped by the next request to the reader; items it holds
  // that the plan leaves out are read for nothing.
  void StartFirst() {
    std::size_t i = 0;
    while (i < items_.size() && !items_[i].diskPath.empty()) ++i;
    if (i == items_.size()) return;
    next_ = Plan(i, [](std::size_t) { return true; }, kFirstRunMembers, 2 * kFirstRunMembers);
    if (next_.archive != 0) StartArchiveFiles(next_.archive, next_.members, kRunMemberBytes);
  }

private:
  static constexpr std::size_t kFirstRunMembers = 256;
  // A run is read in one trip when its names and files fit (at most this many names go in one).
  static constexpr std::size_t kMaxRunMembers = 256;
  static constexpr std::uint64_t kRunMemberBytes = std::uint64_t{256} << 10;

  struct TRun {
    MpqHandle archive = 0;           // 0: the first item is listed by no archive
    std::vector<std::size_t> items;
    std::vector<std::string> members;
  };
  struct TReady {
    TWholeFile file;
    std::string bytes;
    MpqHandle archive = 0;
    std::string member;
  };

  // Item j's record in the index (none: listed by no archive), looked up once: a run's window
  // looks at an item once for each archive among its neighbours.
  const std::optional<TFileMpqRec>& Record(std::size_t j) {
    if (!looked_[j]) {
      records_[j] = RecordOf(items_[j]);
      looked_[j] = 1;
    }
    return records_[j];
  }

  // The run from item i (taken whatever `wanted` says of it) on: up to `members` wanted items of
  // its archive among the next `window` (by default runMembers_ and twice that) that no run holds
  // yet.
  template <typename TWanted>
  TRun Plan(std::size_t i, TWanted wanted, std::size_t members = 0, std::size_t window = 0) {
    if (members == 0) members = runMembers_;
    if (window == 0) window = 2 * runMembers_;
    TRun run;
    const std::optional<TFileMpqRec>& first = Record(i);
    run.archive = first ? first->mpqh : 0;
    run.items.push_back(i);
    run.members.push_back(first ? std::string(first->full_name) : std::string());
    const std::size_t end = std::min(items_.size(), i + window);
    for (std::size_t j = i + 1; run.archive != 0 && j < end && run.members.size() < members; ++j) {
      if (planned_[j] || !items_[j].diskPath.empty()) continue;
      const std::optional<TFileMpqRec>& rec = Record(j);
      if (!rec || rec->mpqh != run.archive || !wanted(j)) continue;
      run.items.push_back(j);
      run.members.emplace_back(rec->full_name);
    }
    for (const std::size_t j : run.items) planned_[j] = 1;
    return run;
  }

  template <typename TWanted>
  void Fill(std::size_t i, TWanted wanted) {
    // The run started last, when it is the one asked for; else one planned now. (A run started
    // for other items is taken by the next request to the reader and dropped; its items are
    // planned again.)
    TRun run;
    if (!next_.items.empty() && next_.items.front() == i) {
      run = std::move(next_);
    } else {
      for (const std::size_t j : next_.items) planned_[j] = 0;
      run = Plan(i, wanted);
    }
    next_ = TRun{};
    std::vector<TWholeFile> files;
    std::vector<std::string> bytes;
    if (run.archive == 0) {
      files.emplace_back();  // listed by no archive: missing
      bytes.emplace_back();
    } else {
      files = TakeArchiveFiles(run.archive, run.members, kRunMemberBytes, empty_, bytes);
    }
    for (std::size_t k = 0; k < run.items.size(); ++k) {
      ready_[run.items[k]] = {std::move(files[k]), std::move(bytes[k]), run.archive, std::move(run.members[k])};
    }
    // The next run starts now, and is read while this one's files are queued and written.
    std::size_t j = i + 1;
    while (j < items_.size() && (planned_[j] || (items_[j].diskPath.empty() && !wanted(j)))) ++j;
    if (j < items_.size() && items_[j].diskPath.empty()) {
      next_ = Plan(j, wanted);
      if (next_.archive != 0) StartArchiveFiles(next_.archive, next_.members, kRunMemberBytes);
    }
  }

  const std::vector<TExportItem>& items_;
  bool empty_;
  std::size_t runMembers_;
  std::vector<char> planned_;        // item j is in a run read or started
  std::vector<char> looked_;                       // Record's
  std::vector<std::optional<TFileMpqRec>> records_;
  std::unordered_map<std::size_t, TReady> ready_;  // read, not yet taken
  TRun next_;                                      // started
};

// The levels an item's header lists up to the first without an offset or a size, as the export
// writes them; 1 when the header cannot be read or loaded.
std::size_t HeaderLevelCount(const TExportItem& item) {
  std::array<std::uint8_t, TBLP2Header::kSize> raw{};
  if (!item.diskPath.empty()) {
    const TFd fd(::open(item.diskPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid() || ::pread(fd.get(), raw.data(), raw.size(), 0) != static_cast<ssize_t>(raw.size())) return 1;
  } else {
    TFileTrouble trouble;
    const std::unique_ptr<TZanthFileHandler> file = OpenItem(item, trouble);
    if (!file || !file->GetHeader(raw.data(), static_cast<std::uint32_t>(raw.size()))) return 1;
  }
  const TBLP2Header hdr = TBLP2Header::Parse(raw);
  if (!IsLoadableContent(hdr)) return 1;
  std::size_t n = 0;
  for (int i = 0; i < ListedLevelCount(hdr); ++i, ++n) {
    if (hdr.offsets[static_cast<std::size_t>(i)] == 0 || hdr.sizes[static_cast<std::size_t>(i)] == 0) break;
  }
  return std::max<std::size_t>(n, 1);
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
    } else if (p < pattern.size() && (UpperAsciiChar(pattern[p]) == UpperAsciiChar(path[s]) ||
                                      (IsSeparator(pattern[p]) && IsSeparator(path[s])))) {
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

std::optional<std::string> ExportRelativePath(std::string_view path, std::string* why) {
  std::string out;
  std::size_t begin = 0;
  for (;;) {
    std::size_t end = begin;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::string_view part = path.substr(begin, end - begin);
    // A NUL byte would end the name the file system sees, so the file would land elsewhere.
    if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string_view::npos) {
      if (why) {
        *why = "unsafe output path: " + (part.empty()                                  ? std::string("an empty component")
                                         : part.find('\0') != std::string_view::npos ? std::string("a NUL byte")
                                                                                      : "component \"" + std::string(part) + "\"");
      }
      return std::nullopt;
    }
    if (!out.empty()) out.push_back('/');
    out.append(part);
    if (end == path.size()) break;
    begin = end + 1;
  }
  return out;
}

std::optional<std::string> ExportBaseName(std::string_view path, std::string* why) {
  std::optional<std::string> out = ExportRelativePath(path, why);
  if (!out) return out;
  const std::size_t slash = out->rfind('/');
  const std::string_view name = std::string_view(*out).substr(slash == std::string::npos ? 0 : slash + 1);
  if (name.size() > 4 && EqualNoCase(name.substr(name.size() - 4), ".blp")) out->resize(out->size() - 4);
  return out;
}

const char* ExportFormatName(TExportFormat format) {
  switch (format) {
    case TExportFormat::kDds: return "dds";
    case TExportFormat::kRaw: return "raw";
    case TExportFormat::kPng: break;
  }
  return "png";
}

std::optional<TExportFormat> ExportFormatFromName(std::string_view name) {
  for (const TExportFormat f : {TExportFormat::kPng, TExportFormat::kDds, TExportFormat::kRaw}) {
    if (name == ExportFormatName(f)) return f;
  }
  return std::nullopt;
}

std::string ExportSummaryLine(const TExportSummary& summary) {
  return std::to_string(summary.outputs) + " files written, " + std::to_string(summary.failed) + " failed, " +
         std::to_string(summary.skipped) + " skipped (already there)";
}

std::string ExportImageName(const std::string& base, std::size_t level) {
  return level == 0 ? base + ".png" : base + ".mip" + std::to_string(level) + ".png";
}

bool WritePngFile(const std::string& path, const TRgbaPixels& pixels, std::string& error) {
  try {
    const bool alpha = !EveryAlphaOpaque(pixels.bytes.data(), std::size_t{pixels.width} * pixels.height);
    return WriteFileAtomically(path, EncodePng(pixels.width, pixels.height, pixels.bytes.data(), alpha), error);
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
  std::string folderError;
  const std::optional<TExportFolder> out = TExportFolder::Open(options.outDir, folderError);
  if (!out) {
    summary.failed = items.size();
    events.Failed(options.outDir, folderError);
    return summary;
  }

  // Items per run: enough to make a trip's cost small beside the files' own, few enough that
  // what is read ahead stays small (a run's files of up to kRunMemberBytes each; larger files are
  // read when their turn comes, on their own). DDS and raw files are written faster than the
  // reader decompresses them, so that each trip's turnaround holds up the export: runs of a full
  // trip for them, a quarter of that for PNG, whose workers take far longer than the reading.
  const std::size_t runMembers = options.format == TExportFormat::kPng ? 64 : 256;
  TReadAhead ahead(items, options.format == TExportFormat::kRaw, runMembers);
  ahead.StartFirst();

  // Where each item goes, decided before anything is read or written: paths that would leave
  // the output folder and outputs that an item earlier in archive-path order claims are refused.
  std::vector<TJob> jobs(items.size());
  std::vector<std::string> refusals(items.size());
  std::vector<TPlannedSource> planned;
  std::vector<std::size_t> plannedItem;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::optional<std::string> spelling = OutputSpelling(items[i]);
    if (!spelling) {
      refusals[i] = items[i].archive == 0 ? "not listed in any archive" : "not listed in the archive asked for";
      continue;
    }
    TJob& job = jobs[i];
    job.path = items[i].path;
    std::optional<std::string> base = options.format == TExportFormat::kRaw ? ExportRelativePath(*spelling, &refusals[i])
                                                                            : ExportBaseName(*spelling, &refusals[i]);
    if (!base) continue;
    job.base = std::move(*base);
    if (!items[i].outName.empty()) {
      std::optional<std::string> exact = ExportRelativePath(items[i].outName, &refusals[i]);
      if (!exact) continue;
      job.exact = std::move(*exact);
    }
    const bool levelNames = options.format == TExportFormat::kPng && options.mips && job.exact.empty();
    planned.push_back({items[i].path, OutputFile(job, options.format, 0), levelNames ? job.base : std::string()});
    plannedItem.push_back(i);
  }
  const std::vector<std::string> clashes = FindOutputClashes(
      planned, [&](std::size_t p) { return HeaderLevelCount(items[plannedItem[p]]); });
  for (std::size_t p = 0; p < planned.size(); ++p) refusals[plannedItem[p]] = clashes[p];

  // DDS and raw decode nothing: their workers mostly wait on the file system, and the archive
  // reader's decompression takes a processor of its own, so one fewer leaves it that one.
  const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
  const unsigned workers = options.workers > 0                       ? options.workers
                           : options.format == TExportFormat::kPng ? processors
                                                                   : std::max(1u, processors - 1);
  TPipeline pipeline(options, *out, workers);
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
      summary.outputs += r.outputs;
      summary.skipped += r.skipped;
      summary.bytesWritten += r.bytesWritten;
    }
  };
  auto fail = [&](const std::string& path, const std::string& reason) {
    ++done;
    ++summary.failed;
    events.Failed(path, reason);
  };

  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!refusals[i].empty()) fail(items[i].path, refusals[i]);
  }
  // The reading thread writes DDS and raw files too: while the queue is full, and once everything
  // is read (a PNG can take long, and progress and cancel are looked at between files).
  const bool help = options.format != TExportFormat::kPng;
  TLastFolder helperFolders;
  TTempNames helperTemps;
  TLastFolder checked;  // where the reading thread last looked for a file already there
  // Whether item j's one output file is there already, so that it needs no reading: looked up
  // once, when the item is read ahead or reached; never in an output folder that held nothing,
  // as the plan gives each file a name of its own. (A file that turns up later is left alone by
  // the link or rename that would replace it.)
  enum : char { kUnknown, kAbsent, kThere };
  std::vector<char> there(items.size(), kUnknown);
  auto alreadyThere = [&](std::size_t j) {
    if (there[j] == kUnknown) {
      there[j] = kAbsent;
      if (!options.overwrite && !out->EmptyAtOpen() && OneOutputFile(jobs[j], options)) {
        const auto [folder, name] = SplitFolder(OutputFile(jobs[j], options.format, 0));
        std::string ignored;
        const int dir = checked.Get(*out, folder, false, ignored);
        if (dir >= 0 && EntryExists(dir, name)) there[j] = kThere;
      }
    }
    return there[j] == kThere;
  };
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!refusals[i].empty()) continue;
    const TExportItem& item = items[i];
    if (events.Cancelled()) {
      summary.cancelled = true;
      break;
    }
    current = item.path;
    events.Progress(done, items.size(), current);
    if (alreadyThere(i)) {
      ++done;
      ++summary.written;
      ++summary.skipped;
      continue;
    }
    TJob job = std::move(jobs[i]);
    std::string reason;
    bool read = false;
    try {
      read = ahead.Read(
          i, [&](std::size_t j) { return refusals[j].empty() && !alreadyThere(j); }, job, reason);
    } catch (const std::bad_alloc&) {
      reason = "out of memory";
    }
    if (!read) {
      fail(item.path, reason);
      continue;
    }
    summary.bytesRead += job.bytes.size();
    while (!pipeline.TryPush(job, 0ms)) {
      // The queue is full: a DDS or raw file of it is written from here, as the writer, at its
      // lower priority, may be starved by other programs, and this thread is not.
      const bool helped = help && pipeline.Help(helperFolders, helperTemps);
      if (!helped && pipeline.TryPush(job, 50ms)) break;
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
  // Everything is read, so the archive reader's processor is free: DDS and raw files, which take
  // microseconds each, are written from here too while the queue drains.
  while (pipeline.Pending() > 0) {
    collect(help && !summary.cancelled && pipeline.Help(helperFolders, helperTemps) ? 0ms : 50ms);
    events.Progress(done, items.size(), current);
    if (!summary.cancelled && events.Cancelled()) {
      summary.cancelled = true;
      pipeline.DropQueued();
    }
  }
  collect(0ms);
  pipeline.Finish();
  events.Progress(done, items.size(), std::string());
  return summary;
}

}  // namespace velmora::blp
