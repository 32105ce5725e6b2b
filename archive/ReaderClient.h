// The viewer's side of the archive reader process: starts velmora-mpq-reader, sends it one
// request at a time under a deadline, and when it crashes, runs out of memory or misses a
// deadline, kills it, starts a new one and opens the archives that were open again, in their
// order, without the one that was being used when it stopped. Archive and file handles are the
// viewer's own numbers (1, 2, 3, ... each), valid across restarts.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "archive/ReaderProtocol.h"
#include "base/UniqueFd.h"

namespace velmora {

// An archive or archive-file handle of the viewer; 0 means none.
using MpqHandle = std::uintptr_t;

// Why the reader process stopped under a request.
enum class TReaderStop : std::uint8_t { None, Crash, Memory, TimeOut };

// "crash", "memory" or "time-out"; empty for None.
std::string_view ReaderStopText(TReaderStop stop);

enum class TArchiveOpenStatus : std::uint8_t {
  Opened,
  CannotOpen,     // StormLib refused it (missing, not an archive, ...)
  AlreadyOpen,    // the same file (device and inode) is open already
  ReaderStopped,  // opening it stopped the reader, or it did so before
};

class TArchiveReader {
public:
  struct TDeadlines {
    std::chrono::milliseconds open{5000};      // open and close of an archive or a file
    std::chrono::milliseconds readBase{2000};  // every read and seek ...
    std::chrono::milliseconds readPerMiB{100};  // ... plus this per MiB asked for
  };
  struct TArchiveOpen {
    TArchiveOpenStatus status = TArchiveOpenStatus::CannotOpen;
    TReaderStop stop = TReaderStop::None;
    MpqHandle handle = 0;  // Opened: the new handle; AlreadyOpen: the one open already
  };
  struct TFileOpen {
    MpqHandle handle = 0;
    std::uint64_t size = 0;
    TReaderStop stop = TReaderStop::None;
  };
  struct TRead {
    std::uint32_t position = 0;  // after the seek
    std::uint32_t read = 0;      // bytes that reached the buffer
    bool complete = false;       // all asked for were read
    TReaderStop stop = TReaderStop::None;
  };
  struct TUsage {
    pid_t pid = 0;
    double cpuMs = 0;       // user + system
    long rssKiB = 0;
    long peakRssKiB = 0;
  };

  TArchiveReader();
  ~TArchiveReader();
  TArchiveReader(const TArchiveReader&) = delete;
  TArchiveReader& operator=(const TArchiveReader&) = delete;

  // The one the archive layer uses.
  static TArchiveReader& Instance();

  // Called about every 50 ms while a request is outstanding, so the window can paint. It must
  // not use the archives itself: a request made from inside it fails at once.
  void SetWaitHook(std::function<void()> hook) { waitHook_ = std::move(hook); }
  void SetDeadlines(const TDeadlines& d) { deadlines_ = d; }
  const TDeadlines& Deadlines() const { return deadlines_; }
  // The reader program; by default <exeDir>/../libexec/velmora/velmora-mpq-reader, else the
  // build tree's. Takes effect at the next start.
  void SetProgram(std::string path) { program_ = std::move(path); }
  static std::string DefaultProgram();

  TArchiveOpen OpenArchive(const std::string& path);
  void CloseArchive(MpqHandle archive);
  // Why the archive was dropped: None while it is usable.
  TReaderStop ArchiveStop(MpqHandle archive) const;

  TFileOpen OpenFile(MpqHandle archive, const std::string& name);
  // Positions at `offset`, then reads up to `length` bytes into `dst`.
  TRead Read(MpqHandle file, std::uint32_t offset, std::uint32_t length, void* dst);
  TRead Seek(MpqHandle file, std::uint32_t offset);
  void CloseFile(MpqHandle file);

  // Ends the process and releases its shared memory; the next request starts a new one.
  // Handles still open stay valid.
  void Stop();
  bool Running() const { return pid_ > 0; }
  std::size_t OpenArchiveCount() const { return archives_.size(); }
  std::size_t OpenFileCount() const { return files_.size(); }
  std::size_t Restarts() const { return restarts_; }
  // CPU time and memory of the running process, for benchmarks.
  std::optional<TUsage> Usage() const;

private:
  struct TArchive {
    std::string path;
    bool identified = false;  // dev and ino are known
    dev_t dev = 0;
    ino_t ino = 0;
    std::uint32_t id = 0;          // the reader's id in generation `generation`
    std::uint32_t generation = 0;
    TReaderStop stop = TReaderStop::None;
    bool lost = false;             // could not be opened again after a restart
  };
  struct TFile {
    MpqHandle archive = 0;
    std::string name;
    std::uint32_t id = 0;
    std::uint32_t generation = 0;
    bool lost = false;
  };
  // The shared memory that read bytes arrive in: kept for every reader process to come, until
  // Stop.
  class TShared {
  public:
    TShared() = default;
    ~TShared() { Release(); }
    TShared(const TShared&) = delete;
    TShared& operator=(const TShared&) = delete;
    bool Create();
    void Release();
    int Fd() const { return fd_.get(); }
    const char* Data() const { return data_; }

  private:
    TFd fd_;
    const char* data_ = nullptr;
  };

  bool Start();
  void Kill();
  // One request and its reply. On a stop the process is gone and `culprit` dropped; the others
  // are open again when this returns.
  TReaderStop Call(MpqHandle culprit, const reader::TRequestHeader& rq, std::string_view name,
                   reader::TReplyHeader& reply, std::chrono::milliseconds deadline);
  TReaderStop Exchange(const reader::TRequestHeader& rq, std::string_view name, reader::TReplyHeader& reply,
                       std::chrono::steady_clock::time_point deadline);
  bool Send(const void* p, std::size_t n, std::chrono::steady_clock::time_point deadline);
  bool Receive(void* p, std::size_t n, std::chrono::steady_clock::time_point deadline);
  bool Wait(short events, std::chrono::steady_clock::time_point deadline);
  TReaderStop DeathReason();
  void Drop(MpqHandle culprit, TReaderStop stop);
  // Opens every archive that is not current in this process's generation, in order.
  void Reopen();
  bool EnsureArchive(TArchive& a);
  TFile* EnsureFile(MpqHandle file, TReaderStop& stop);
  std::chrono::milliseconds ReadDeadline(std::uint32_t length) const;

  std::function<void()> waitHook_;
  std::chrono::steady_clock::time_point lastHook_{};
  TDeadlines deadlines_;
  std::string program_;
  TShared shared_;
  pid_t pid_ = 0;
  TFd socket_;
  std::uint32_t generation_ = 0;
  std::uint32_t sequence_ = 0;
  std::size_t restarts_ = 0;
  bool busy_ = false;
  bool timedOut_ = false;
  MpqHandle nextArchive_ = 1;
  MpqHandle nextFile_ = 1;
  std::map<MpqHandle, TArchive> archives_;  // ordered by handle: opening order
  std::map<MpqHandle, TFile> files_;
  // Archives that stopped the reader, by file identity, so another mention is not tried again.
  std::map<std::pair<dev_t, ino_t>, TReaderStop> culprits_;
};

// Owners of the client's handles: each closes its handle when it goes.
class TArchiveHandle {
public:
  TArchiveHandle() = default;
  explicit TArchiveHandle(MpqHandle h) : h_(h) {}
  ~TArchiveHandle() { Reset(); }
  TArchiveHandle(TArchiveHandle&& o) noexcept : h_(o.h_) { o.h_ = 0; }
  TArchiveHandle& operator=(TArchiveHandle&& o) noexcept;
  TArchiveHandle(const TArchiveHandle&) = delete;
  TArchiveHandle& operator=(const TArchiveHandle&) = delete;
  MpqHandle Get() const { return h_; }
  explicit operator bool() const { return h_ != 0; }
  void Reset();

private:
  MpqHandle h_ = 0;
};

class TArchiveFileHandle {
public:
  TArchiveFileHandle() = default;
  explicit TArchiveFileHandle(MpqHandle h) : h_(h) {}
  ~TArchiveFileHandle() { Reset(); }
  TArchiveFileHandle(TArchiveFileHandle&& o) noexcept : h_(o.h_) { o.h_ = 0; }
  TArchiveFileHandle& operator=(TArchiveFileHandle&& o) noexcept;
  TArchiveFileHandle(const TArchiveFileHandle&) = delete;
  TArchiveFileHandle& operator=(const TArchiveFileHandle&) = delete;
  MpqHandle Get() const { return h_; }
  explicit operator bool() const { return h_ != 0; }
  void Reset();

private:
  MpqHandle h_ = 0;
};

}  // namespace velmora
