// The thumbnail worker: its own archive reader, the archives it has opened, one job at a time.
#include "ui/ThumbnailLoader.h"

#include <exception>
#include <map>

#include "archive/ReaderClient.h"
#include "base/Escape.h"
#include "blp/BlpExport.h"
#include "blp/Thumbnail.h"
#include "blp/WorkerSources.h"

namespace velmora {

namespace {

// A source that gives up as soon as its job is no longer wanted, so that scrolling away from a
// large file does not wait for all of its level to arrive.
class TCancellableSource final : public blp::TBlpSource {
public:
  TCancellableSource(blp::TBlpSource& inner, const TThumbnailQueue& queue, const std::string& key)
      : inner_(inner), queue_(queue), key_(key) {}
  std::uint64_t Size() const override { return inner_.Size(); }
  void ReadHeader(void* dst, std::uint32_t len) override {
    if (StillWanted()) inner_.ReadHeader(dst, len);
  }
  bool ReadAt(std::uint32_t offset, std::uint32_t len, void* dst) override {
    return StillWanted() && inner_.ReadAt(offset, len, dst);
  }
  bool Cancelled() const { return cancelled_; }

private:
  bool StillWanted() {
    if (!cancelled_ && !queue_.Wanted(key_)) cancelled_ = true;
    return !cancelled_;
  }
  blp::TBlpSource& inner_;
  const TThumbnailQueue& queue_;
  const std::string& key_;
  bool cancelled_ = false;
};

std::string StopProblem(const std::string& name, TReaderStop stop) {
  return "reading " + EscapeName(name) + " stopped the archive reader: " + std::string(ReaderStopText(stop));
}

// What the worker thread keeps between jobs.
class TWorker {
public:
  TWorker(const std::string& program, const TThumbnailQueue& queue) : queue_(queue) {
    if (!program.empty()) reader_.SetProgram(program);
    reader_.SetStopHook([this](const TReaderStopEvent& event) { stopLog_ = event.Text(); });
  }

  // The thumbnail of `job`; `cancelled` when it stopped because it is no longer wanted.
  TThumbnail Make(const TThumbnailJob& job, bool& cancelled) {
    TThumbnail out;
    out.key = job.key;
    stopLog_.clear();
    try {
      if (job.archive.empty()) {
        blp::TDiskFileSource disk(job.name);
        if (!disk.Problem().empty()) {
          out.problem = disk.Problem();
        } else {
          Picture(disk, job, out, cancelled);
        }
      } else {
        FromArchive(job, out, cancelled);
      }
    } catch (const std::exception& e) {
      // Memory that ran out costs this thumbnail only.
      out.pixels = {};
      out.problem = e.what();
    }
    out.stopLog = stopLog_;
    return out;
  }

private:
  struct TArchiveEntry {
    MpqHandle handle = 0;
    std::string problem;
  };

  const TArchiveEntry& Archive(const std::string& path) {
    if (const auto it = archives_.find(path); it != archives_.end()) return it->second;
    TArchiveEntry entry;
    // The reader may read only the archives it was started for, and one outside them starts a new
    // one: a folder whose files lie in several archives costs one start for all of them.
    std::vector<std::string> expected = queue_.Archives();
    expected.push_back(path);
    reader_.ExpectArchives(expected);
    const TArchiveReader::TArchiveOpen open = reader_.OpenArchive(path);
    switch (open.status) {
      case TArchiveOpenStatus::Opened:
      case TArchiveOpenStatus::AlreadyOpen: entry.handle = open.handle; break;
      case TArchiveOpenStatus::CannotOpen: entry.problem = "its archive cannot be opened: " + open.reason; break;
      case TArchiveOpenStatus::ReaderStopped:
        entry.problem = "opening its archive stopped the archive reader: " + std::string(ReaderStopText(open.stop));
        break;
      case TArchiveOpenStatus::ReaderUnavailable: entry.problem = open.reason; break;
    }
    return archives_.emplace(path, std::move(entry)).first->second;
  }

  void FromArchive(const TThumbnailJob& job, TThumbnail& out, bool& cancelled) {
    const TArchiveEntry& archive = Archive(job.archive);
    if (archive.handle == 0) {
      out.problem = archive.problem;
      return;
    }
    // The claimed size is held to what the archive stores for the file (kMaxExpansion): the
    // header check's memory bound below rests on it.
    const TArchiveReader::TFileOpen open = reader_.OpenFile(archive.handle, job.name);
    if (open.stop != TReaderStop::None) {
      out.problem = StopProblem(job.name, open.stop);
      return;
    }
    if (!open.refusal.empty()) {
      out.problem = open.refusal;
      return;
    }
    if (open.handle == 0) {
      out.problem = "the archive cannot open this file";
      return;
    }
    blp::TReaderFileSource file(reader_, open.handle, open.size);
    Picture(file, job, out, cancelled);
    reader_.CloseFile(open.handle);
    if (file.Stop() != TReaderStop::None) {
      out.pixels = {};
      out.problem = StopProblem(job.name, file.Stop());
    }
  }

  void Picture(blp::TBlpSource& source, const TThumbnailJob& job, TThumbnail& out, bool& cancelled) {
    TCancellableSource wanted(source, queue_, job.key);
    blp::TThumbnailPicture picture = blp::MakeThumbnail(wanted, job.side, blp::kExportMaxTextureSize);
    cancelled = wanted.Cancelled();
    out.pixels = std::move(picture.pixels);
    out.problem = std::move(picture.problem);
  }

  const TThumbnailQueue& queue_;
  TArchiveReader reader_;
  std::map<std::string, TArchiveEntry> archives_;  // by path on this host
  std::string stopLog_;
};

}  // namespace

TThumbnailLoader::TThumbnailLoader(std::string readerProgram, QObject* parent)
    : QObject(parent), program_(std::move(readerProgram)) {
  qRegisterMetaType<TThumbnail>();
}

TThumbnailLoader::~TThumbnailLoader() {
  queue_.Close();
  if (thread_.joinable()) thread_.join();
}

void TThumbnailLoader::Want(std::vector<TThumbnailJob> jobs) {
  if (!thread_.joinable() && jobs.empty()) return;
  queue_.Want(std::move(jobs));
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void TThumbnailLoader::Run() {
  TWorker worker(program_, queue_);
  while (std::optional<TThumbnailJob> job = queue_.Take()) {
    bool cancelled = false;
    TThumbnail thumbnail = worker.Make(*job, cancelled);
    queue_.Finished();
    if (cancelled) {
      ++cancelled_;
      continue;
    }
    ++made_;
    emit Ready(thumbnail);
  }
}

}  // namespace velmora
