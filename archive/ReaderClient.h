// The viewer's side of the archive reader process: starts velmora-mpq-reader, greets it, sends it
// one request at a time under a deadline and checks every reply against the request. When the
// reader crashes, runs out of memory, misses a deadline or answers out of bounds, it is killed;
// the next request starts a new one, which opens the archives that request needs again (and only
// those). A crash is tried once more in a fresh reader before it is blamed: an earlier archive may
// have damaged the reader's heap. What stopped it twice, or stopped it for memory or time, is
// skipped from then on: an archive at its open, a file (named by archive and member) at its
// open or read. Archive and file handles are the viewer's own numbers (1, 2, 3, ... each), valid
// across restarts.
//
// One TArchiveReader talks to one reader process; Instance() is the one the archive layer uses.
// Another may be made and used apart from it (a worker thread's own, one thread at a time).
//
// Each reader process is confined to the archive files of its TArchiveReader: those open, and
// those announced with ExpectArchives. Opening an archive outside that set ends the running
// process (its archives open again in the next one when a request needs them, as after a crash)
// and starts one whose set covers it; announcing a batch first costs one process for all of it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ReaderProtocol.h"
#include "archive/SandboxSupport.h"
#include "base/UniqueFd.h"

namespace velmora {

// An archive or archive-file handle of the viewer; 0 means none.
using MpqHandle = std::uintptr_t;

// Why the reader process stopped under a request. Sandbox: it made a system call its sandbox
// forbids (what an exploit of a damaged archive would do), and was killed for it; handled as a
// crash.
enum class TReaderStop : std::uint8_t { None, Crash, Memory, TimeOut, Sandbox };

// "crash", "memory", "time-out" or "sandbox violation"; empty for None.
std::string_view ReaderStopText(TReaderStop stop);

// A request that stopped the reader, for the log: what was being done, to which archive and file.
struct TReaderStopEvent {
  enum class TStage : std::uint8_t { OpenArchive, OpenFile, Read, Close, ListNames };
  TStage stage = TStage::OpenArchive;
  std::string archive;  // the archive's path, as opened
  std::string member;   // the file of it, for OpenFile and Read
  TReaderStop stop = TReaderStop::None;
  std::string words;    // the reader's last lines on stderr, escaped
  // "<archive>: the archive reader stopped (<reason>) while opening it" (or "while reading
  // <member>", ...), then what it said; names escaped.
  std::string Text() const;
};

enum class TArchiveOpenStatus : std::uint8_t {
  Opened,
  CannotOpen,         // missing, unreadable, refused by the header check or by StormLib: `reason`
  AlreadyOpen,        // the same file (device and inode) is open already
  ReaderStopped,      // opening it stopped the reader, or it did so before
  ReaderUnavailable,  // the reader cannot be started: `reason` says where it was looked for, why
};

// A file's claimed size counts up to this many times the bytes its archive stores for it; beyond,
// the file is refused as a decompression bomb.
constexpr std::uint64_t kMaxExpansion = reader::kMaxClaimFactor;

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
    std::string reason;    // CannotOpen, ReaderUnavailable: why, in words
    int error = 0;         // CannotOpen: the errno or StormLib code, when there is one
    std::string words;     // ReaderStopped: the reader's last lines on stderr, escaped
  };
  struct TFileOpen {
    MpqHandle handle = 0;
    std::uint64_t size = 0;    // as the archive claims it, at most kMaxExpansion x stored
    std::uint64_t stored = 0;  // bytes the archive stores for it
    TReaderStop stop = TReaderStop::None;
    std::string refusal;       // "decompression bomb: ..." when the claimed size was refused
    std::string words;         // the reader's last lines when it stopped
  };
  struct TRead {
    std::uint32_t position = 0;  // after the seek
    std::uint32_t read = 0;      // bytes that reached the buffer
    bool complete = false;       // all asked for were read
    TReaderStop stop = TReaderStop::None;
    std::string words;
  };
  // The names StormLib knows by itself for an archive's members (ListNames).
  struct TNames {
    bool complete = false;            // the reader answered; `names` is what it knows
    std::vector<std::string> names;   // as StormLib spells them, each a member's own name
    std::uint32_t unnamed = 0;        // members StormLib cannot name: left out
    std::uint32_t leftOut = 0;        // names that did not fit one reply: left out
    TReaderStop stop = TReaderStop::None;
    std::string words;
  };
  // A member read whole in one trip (ReadWhole).
  struct TWhole {
    enum class TStatus : std::uint8_t {
      Read,        // `out` holds all `size` bytes
      NotOpened,   // the archive has no such member, or the archive is dropped (`stop`)
      TooLarge,    // more than was asked for in one trip: nothing read, read it in pieces
      Refused,     // a decompression bomb: `refusal` says why
      ReadFailed,  // opened, but the read ended short
      Stopped,     // the reader stopped under it: `stop`, `words`
    };
    TStatus status = TStatus::NotOpened;
    std::uint64_t size = 0;    // as the archive claims it
    std::uint64_t stored = 0;  // bytes the archive stores for it
    std::uint32_t read = 0;    // ReadFailed: bytes that arrived
    TReaderStop stop = TReaderStop::None;
    std::string refusal;
    std::string words;
  };
  // What a reader process put in place to confine itself.
  struct TSandbox {
    bool known = false;            // a reader has started and said
    TSandboxState state;
    std::vector<std::string> missing;  // a log line for each protection not in place, with why
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
  // Called for every request that stops the reader, a crash tried again included.
  void SetStopHook(std::function<void(const TReaderStopEvent&)> hook) { stopHook_ = std::move(hook); }
  void SetDeadlines(const TDeadlines& d) { deadlines_ = d; }
  const TDeadlines& Deadlines() const { return deadlines_; }
  // The reader program; by default <exeDir>/../libexec/velmora/velmora-mpq-reader, else the
  // build tree's. Takes effect at the next start, and forgets a failed start.
  void SetProgram(std::string path) {
    program_ = std::move(path);
    startProblem_.clear();
  }
  static std::string DefaultProgram();
  // Why the reader cannot be started ("the archive reader ... cannot run: ..."); empty while it
  // can. A failed start is not tried again until Stop or SetProgram.
  const std::string& StartProblem() const { return startProblem_; }
  // Called with each line saying a protection that a reader process could not put in place
  // ("archive reader: file-system sandbox unavailable (no Landlock); running unconfined"), each
  // line once; never when all are in place (Sandbox() says which are).
  void SetSandboxHook(std::function<void(const std::string&)> hook) { sandboxHook_ = std::move(hook); }
  // What the last reader process started put in place; `known` is false before the first.
  const TSandbox& Sandbox() const { return sandbox_; }
  // Archives about to be opened, one after the other: the next reader process may read them too,
  // so that opening them needs no new process each. Replaces the last such list.
  void ExpectArchives(const std::vector<std::string>& paths);
  // Archives open in one reader process at a time; beyond, the one used longest ago is closed
  // there (its handle stays valid and it opens again when a request needs it). By default what the
  // descriptor limit leaves.
  void SetMaxOpenArchives(std::size_t n) { maxOpen_ = n; }

  TArchiveOpen OpenArchive(const std::string& path);
  void CloseArchive(MpqHandle archive);
  // Why the archive was dropped: None while it is usable.
  TReaderStop ArchiveStop(MpqHandle archive) const;
  // The reader's last lines when the archive was dropped, escaped; empty when it said nothing.
  std::string ArchiveStopWords(MpqHandle archive) const;
  // Drops an archive whose file list stopped the reader: later requests for it fail with `stop`,
  // and it is not opened again under another name.
  void SkipArchive(MpqHandle archive, TReaderStop stop, const std::string& words);

  TFileOpen OpenFile(MpqHandle archive, const std::string& name);
  // The names StormLib knows for the archive's members by itself, without a "(listfile)" of the
  // viewer's reading; the names it makes up for members it cannot name are left out.
  TNames ListNames(MpqHandle archive);
  // Opens, reads and closes a member in one trip when it claims at most `maxBytes` (at most
  // kSharedBytes); its claimed size is held to kMaxExpansion x stored as OpenFile holds it.
  TWhole ReadWhole(MpqHandle archive, const std::string& name, std::uint32_t maxBytes, std::string& out);
  // ReadWhole for each of `names`, members of one archive, as many in one trip as the shared
  // memory holds (at most kMaxBatchNames): result i and outs[i] are names[i]'s. Members that claim
  // more than `maxBytes` (at most kMaxBatchMember) come back TooLarge, unread. When a trip stops
  // the reader, the members it had not answered are read one by one with ReadWhole, which tries
  // a crash again and blames the member that stops the reader.
  std::vector<TWhole> ReadWholeMany(MpqHandle archive, const std::vector<std::string>& names, std::uint32_t maxBytes,
                                    std::vector<std::string>& outs);
  // ReadWholeMany in two halves, so that the caller works while the reader reads: StartMany sends
  // the first trip and returns; TakeMany, with the same arguments, waits for it and does the rest,
  // as ReadWholeMany would. Any other request in between first takes the trip's answer (kept for
  // TakeMany); a StartMany replaces one not taken, and a TakeMany for other names reads them
  // then.
  void StartMany(MpqHandle archive, std::vector<std::string> names, std::uint32_t maxBytes);
  std::vector<TWhole> TakeMany(MpqHandle archive, const std::vector<std::string>& names, std::uint32_t maxBytes,
                               std::vector<std::string>& outs);
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
  // Requests sent so far, each a round trip to a reader process (the sandbox message of each
  // start included): what tests and benchmarks count trips by.
  std::uint32_t Requests() const { return sequence_; }
  // CPU time and memory of the running process, for benchmarks.
  std::optional<TUsage> Usage() const;
  // Archives open in the running reader process.
  std::size_t OpenInReader() const { return openInReader_; }
  // The peak resident memory of the last reader process that ended, in KiB.
  long EndedPeakKiB() const { return endedPeakKiB_; }

private:
  struct TCulprit {
    TReaderStop stop = TReaderStop::None;
    std::string words;
  };
  struct TArchive {
    std::string path;        // as given: for messages
    std::string readerPath;  // absolute, since the reader runs in /
    bool identified = false;  // dev and ino are known
    dev_t dev = 0;
    ino_t ino = 0;
    std::uint64_t fileSize = 0;
    std::uint32_t id = 0;          // the reader's id in generation `generation`
    std::uint32_t generation = 0;
    std::uint64_t lastUse = 0;
    TCulprit stop;
    bool lost = false;             // could not be opened again in a later reader
    std::map<std::string, TCulprit> badFiles;  // members that stopped the reader, by name
  };
  struct TFile {
    MpqHandle archive = 0;
    std::string name;
    std::uint32_t id = 0;
    std::uint32_t generation = 0;
    bool lost = false;
  };
  // One request's answer.
  struct TAnswer {
    reader::TReplyHeader reply{};
    std::string text;
    TReaderStop stop = TReaderStop::None;
    std::string words;  // when it stopped
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

  // Starts the reader when none runs; false when it cannot be started (StartProblem says why).
  bool EnsureRunning();
  bool Start();
  // The files a new reader process may read: the archives held (newest first), then those
  // expected; their identities go to granted_.
  std::vector<std::string> GrantPaths();
  // Sends the sandbox message; the problem, or empty.
  std::string Confine(std::chrono::steady_clock::time_point deadline);
  // The reply's bounds broken, as a crash: the process is ended and the stop reported.
  void Breached(TAnswer& answer, const std::string& breach);
  // A ReadWholeMany under way: its names, what has come back, and the trip out, if one is.
  struct TMany {
    MpqHandle archive = 0;
    std::vector<std::string> names;
    std::uint32_t maxBytes = 0;
    std::vector<TWhole> results;
    std::vector<std::string> outs;
    std::vector<std::size_t> alone;  // to be read one by one with ReadWhole, at the end
    std::size_t next = 0;            // the first name no trip has asked for
    bool out = false;                // a trip is sent and its answer not taken
    bool sent = false;               // ... and sending it went through
    std::vector<std::size_t> trip;   // its names, by position
    reader::TRequestHeader rq{};
    std::uint32_t generation = 0;
    std::string about;               // its names for the stop hook
  };
  TMany PlanMany(MpqHandle archive, std::vector<std::string> names, std::uint32_t maxBytes);
  // Sends the next trip of `m`; false when none is left to send (or the archive cannot be used,
  // which the results then say).
  bool SendTrip(TMany& m);
  // Takes the answer of the trip out: its records into the results, or, when the reader stopped
  // or broke a bound, its names to be read one by one.
  void TakeTrip(TMany& m);
  std::vector<TWhole> FinishMany(TMany& m, std::vector<std::string>& outs);
  // The trip sent ahead by StartMany answered, before another request is sent.
  void Settle();
  // A ReadWhole reply held to what was asked for; Breached when it is not.
  void CheckWhole(TAnswer& answer, std::uint32_t maxBytes);
  // Where each record of a ReadBatch reply for `asked` members lies in the shared memory, each
  // record held to what was asked for; empty, and Breached, when one is not.
  std::vector<std::size_t> CheckBatch(TAnswer& answer, std::size_t asked, std::uint32_t maxBytes);
  // A member's answer as ReadWhole gives it, from a reply's or a record's fields.
  static TWhole WholeFrom(reader::TReplyStatus status, std::uint64_t size, std::uint64_t stored, std::uint32_t read,
                          const TArchive& a);
  void Kill();
  // One request and its checked answer. On a stop the process is gone; nothing is retried here.
  TAnswer Exchange(const reader::TRequestHeader& rq, std::string_view name, std::chrono::milliseconds deadline);
  // The two halves of Exchange: the request sent (false when that failed), and its answer.
  bool SendRequest(const reader::TRequestHeader& rq, std::string_view name, std::chrono::steady_clock::time_point deadline);
  TAnswer Answer(const reader::TRequestHeader& rq, std::chrono::steady_clock::time_point deadline, bool sent);
  // Counts a stop and tells the stop hook.
  void Stopped(TReaderStop stop, const std::string& words);
  // What of `answer` breaks a bound of the request `rq`; empty when nothing does.
  std::string Breach(const reader::TRequestHeader& rq, const TAnswer& answer) const;
  bool Send(const void* p, std::size_t n, std::chrono::steady_clock::time_point deadline);
  bool Receive(void* p, std::size_t n, std::chrono::steady_clock::time_point deadline);
  bool Wait(short events, std::chrono::steady_clock::time_point deadline);
  TReaderStop DeathReason();
  // The reader's stderr so far into its tail, and that tail's last lines, escaped.
  void DrainStderr();
  std::string TakeWords();
  // Opens `a` in the running reader if it is not open there; false when it is dropped, lost, or
  // the reader cannot start (`stop` set when the archive is dropped).
  bool EnsureArchive(MpqHandle handle, TArchive& a, TCulprit& stop);
  TFile* EnsureFile(MpqHandle file, TCulprit& stop);
  // The file ready in the running reader for attempt `attempt` of a read or seek, and said to the
  // stop hook as the file being read. Null when it is not: with `again` when a crash there is
  // worth one more try, else with `result` saying why (a stop is then blamed on the file).
  TFile* FileToRead(MpqHandle file, int attempt, TRead& result, bool& again);
  // From now on `file` is skipped in its archive for `stop`.
  void BlameFile(MpqHandle file, const TCulprit& stop);
  // Closes the archive used longest ago in the reader when `maxOpen_` are open there.
  void MakeRoom(MpqHandle keep);
  // The open request of an archive in the running reader, once more in a fresh one after a crash.
  TAnswer OpenInReader(const std::string& path, bool& ended);
  std::size_t MaxOpen() const;
  std::chrono::milliseconds ReadDeadline(std::uint32_t length) const;

  // What the next request is about, for the stop hook.
  void About(TReaderStopEvent::TStage stage, const std::string& archive, const std::string& member = {}) {
    aboutStage_ = stage;
    aboutArchive_ = archive;
    aboutMember_ = member;
  }

  std::function<void()> waitHook_;
  std::function<void(const TReaderStopEvent&)> stopHook_;
  std::function<void(const std::string&)> sandboxHook_;
  TSandbox sandbox_;
  std::vector<std::string> sandboxSaid_;
  std::vector<std::string> expected_;  // absolute
  // The files (device, inode) the running reader may read.
  std::set<std::pair<dev_t, ino_t>> granted_;
  TReaderStopEvent::TStage aboutStage_ = TReaderStopEvent::TStage::OpenArchive;
  std::string aboutArchive_;
  std::string aboutMember_;
  std::chrono::steady_clock::time_point lastHook_{};
  TDeadlines deadlines_;
  std::string program_;
  std::string startProblem_;
  TShared shared_;
  pid_t pid_ = 0;
  TFd socket_;
  TFd stderr_;
  std::string stderrTail_;
  std::uint32_t generation_ = 0;
  std::uint32_t sequence_ = 0;
  std::uint32_t archiveOpensSent_ = 0;  // in this generation: bounds the ids the reader gives
  std::uint32_t fileOpensSent_ = 0;
  std::size_t restarts_ = 0;
  std::size_t openInReader_ = 0;
  long endedPeakKiB_ = 0;
  std::size_t maxOpen_ = 0;
  std::uint64_t useClock_ = 0;
  bool busy_ = false;
  bool timedOut_ = false;
  MpqHandle nextArchive_ = 1;
  MpqHandle nextFile_ = 1;
  std::map<MpqHandle, TArchive> archives_;  // ordered by handle: opening order
  std::map<MpqHandle, TFile> files_;
  std::optional<TMany> ahead_;  // StartMany's, until TakeMany
  // Archives that stopped the reader, by file identity, so another mention is not tried again.
  std::map<std::pair<dev_t, ino_t>, TCulprit> culprits_;
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
