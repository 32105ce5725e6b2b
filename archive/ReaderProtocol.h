// The messages between the viewer and its archive reader process (velmora-mpq-reader), which
// makes every StormLib call. Both ends are built from the same sources for the same machine, so
// numbers travel in host byte order.
//
// Transport: one SOCK_STREAM Unix socket pair for the messages, the reader's end on descriptor
// 3, one shared memory file (memfd) of kSharedBytes for the bytes that files hold, on descriptor
// 4, sealed at that size so that neither side can shrink it under the other, and a pipe for the
// reader's stderr on descriptor 2, which the viewer keeps the last lines of (glibc's and the
// sanitizers' reports of a crash) for its log. The viewer sends one request and waits for its
// reply before it sends the next.
//
// Hello: the first message each way is a THello, the viewer's first. A reader that does not know
// the viewer's magic and version answers with its own and exits; a viewer that does not know the
// reader's reports "archive reader version N, viewer expects M" and does not use it.
//
// Sandbox: the viewer's second message, always, names the archive files this reader may open;
// the reader confines itself to reading those (Landlock) and to the system calls its work needs
// (seccomp) before it reads anything else, and answers with what it could put in place. A call
// outside that list kills it with SIGSYS, which the viewer reports as a sandbox violation. A
// reader is never given more files later: an archive outside the list needs a new reader.
//
// Request: a 24-byte TRequestHeader, then `nameSize` bytes of name (no NUL).
//   kind           sequence   target        offset   length   name
//   OpenArchive    n          -             -        -        archive path (UTF-8)
//   CloseArchive   n          archive id    -        -        -
//   OpenFile       n          archive id    -        -        member name as listed
//   ReadFile       n          file id       offset   length   -       (positions, then reads)
//   ReadOn         n          file id       -        length   -       (reads on from where the
//                                                                       last read ended)
//   SeekFile       n          file id       offset   -        -
//   CloseFile      n          file id       -        -        -
//   Sandbox        n          path count    -        -        archive paths, each ended by a NUL
//   ListNames      n          archive id    -        -        -
//   ReadWhole      n          archive id    -        length   member name as listed
//   ReadBatch      n          archive id    count    length   member names, each ended by a NUL
//   Fault*         n          -             -        -        -       (test builds only)
// Ids are the reader's own (table position + 1, never reused); the viewer maps its handles to
// them and opens its archives again under new ids in a new reader process, when a request needs
// them. A read asks for at most kSharedBytes; the viewer reads more in pieces (ReadFile, then
// ReadOn). A listfile is read as any member: OpenFile "(listfile)", reads of its size, CloseFile.
//
// Reply: a 40-byte TReplyHeader, then `textSize` bytes of text (at most kMaxReplyText).
//   OpenArchive    status Ok: value = archive id; Failed: error = StormLib's error code, or
//                  0 with a text naming the header field that the archive's file cannot hold.
//                  After a failed StormLib open the reader exits: StormLib may have damaged its
//                  heap on the way (a one-entry hash table overrun), which would crash a later,
//                  good archive.
//   OpenFile       status Ok: value = file id, size = file size as the archive claims it
//                  (64 bits; 0 when unknown), stored = the bytes the archive stores for it
//   ReadFile       value = position after the seek, size = bytes read, which lie at the start
//   ReadOn         of the shared memory; status Ok when all `length` bytes were read, Failed for
//                  a short read
//   SeekFile       value = the new position (0xFFFFFFFF when StormLib refused it)
//   Close*         status Ok, nothing else
//   Sandbox        status Ok: value = the protections in place (kProtect*), error = the Landlock
//                  ABI used (0: none), text = what is missing and why, one line each
//   ListNames      the names StormLib knows by itself for the archive's members (its own files
//                  such as "(attributes)", and what a "(listfile)" gave it), never the names it
//                  makes up for members it cannot name: in the shared memory from its start,
//                  each ended by a NUL, `size` bytes in all; value = names there, stored = members
//                  without a known name, error = names left out for want of room
//   ReadWhole      opens the member, reads it whole into the shared memory and closes it, in one
//                  trip. status Ok: value = bytes read = size; Declined: opened, but it claims
//                  more than `length` or more than kMaxClaimFactor x what is stored, so nothing
//                  was read (size and stored say what it claims and stores); Failed: not opened
//                  (error = StormLib's code, size 0), or opened and read short (value = bytes read)
//   ReadBatch      ReadWhole for the members named, in order, as many as the shared memory holds
//                  (`length`, the most each may claim, is at most kMaxBatchMember): each answer a
//                  TBatchRecord in the shared memory, its bytes right after it, the next record
//                  at the next multiple of 8. status Ok: value = members answered, at least one,
//                  size = bytes of the shared memory used; the rest go in the next request.
//                  Failed: the archive id is unknown, nothing answered. Small files cost one
//                  round trip each otherwise, which for files of a few KB is most of the time
//                  an export of them takes (bench/export).
// Any request may be answered with status OutOfMemory instead: an allocation failed under the
// reader's address-space limit (StormLib's ERROR_NOT_ENOUGH_MEMORY included). The reader exits
// after sending it; the viewer counts it as the reader stopping for memory. The viewer checks
// every reply against its request and the shared memory's size before it uses it; one that
// breaks a bound counts as a crash of the reader.
//
// Why shared memory (bench/transfer): StormLib reads straight into it and the viewer copies once
// into its own buffer, where the socket costs two more copies and a wake-up per socket buffer's
// worth; for a 21 MiB texture that was about 2 ms against 3.5 to 9 ms through the socket, the
// socket's figure swinging with the load of the machine. The mapping is kept, since page faults
// are dear here (a fresh mapping per read was 20 times slower), and kept small, so that a 50 MiB
// listfile goes through it in pieces rather than staying resident in both processes.
#pragma once

#include <cstdint>

namespace velmora::reader {

enum class TRequestKind : std::uint32_t {
  OpenArchive = 1,
  CloseArchive = 2,
  OpenFile = 3,
  ReadFile = 4,
  ReadOn = 5,
  SeekFile = 6,
  CloseFile = 7,
  Sandbox = 8,
  ListNames = 9,
  ReadWhole = 10,
  ReadBatch = 11,
  // Test builds of the reader only: misbehave as damaged archives make StormLib misbehave.
  FaultCrash = 100,
  FaultMemory = 101,
  FaultHang = 102,
};

enum class TReplyStatus : std::uint32_t { Ok = 0, Failed = 1, OutOfMemory = 2, Declined = 3 };

// "VLMR"; the version changes with any message's layout or meaning.
constexpr std::uint32_t kProtocolMagic = 0x524D4C56;
constexpr std::uint32_t kProtocolVersion = 4;

struct THello {
  std::uint32_t magic;
  std::uint32_t version;
};
static_assert(sizeof(THello) == 8);

struct TRequestHeader {
  TRequestKind kind;
  std::uint32_t sequence;
  std::uint32_t target;
  std::uint32_t offset;
  std::uint32_t length;
  std::uint32_t nameSize;
};
static_assert(sizeof(TRequestHeader) == 24);

struct TReplyHeader {
  std::uint32_t sequence;
  TReplyStatus status;
  std::uint32_t error;
  std::uint32_t value;
  std::uint64_t size;
  std::uint64_t stored;
  std::uint32_t textSize;
  std::uint32_t reserved;
};
static_assert(sizeof(TReplyHeader) == 40);

// One member's answer to ReadBatch, in the shared memory. status and error as a ReadWhole reply's,
// size and stored the member's claim and stored bytes, read the bytes that follow the record
// (all `size` when Ok, none when Declined, at most `size` when Failed).
struct TBatchRecord {
  TReplyStatus status;
  std::uint32_t error;
  std::uint64_t size;
  std::uint64_t stored;
  std::uint32_t read;
  std::uint32_t reserved;
};
static_assert(sizeof(TBatchRecord) == 32);

// The most text a reply carries.
constexpr std::uint32_t kMaxReplyText = 1024;

// Size of the shared memory, and the most one read asks for.
constexpr std::uint32_t kSharedBytes = 8u << 20;

// Records and their bytes start at multiples of this.
constexpr std::uint32_t kBatchAlign = 8;
// The most a member of a batch may claim: the shared memory less one record, so the first
// member always fits.
constexpr std::uint32_t kMaxBatchMember = kSharedBytes - sizeof(TBatchRecord);
// The most members, and bytes of names, one ReadBatch asks for.
constexpr std::uint32_t kMaxBatchNames = 256;
constexpr std::uint32_t kMaxBatchNameBytes = 64u << 10;

// Names longer than this are refused by the viewer before they are sent; StormLib refuses far
// shorter ones anyway.
constexpr std::uint32_t kMaxNameSize = 1u << 20;

// The Sandbox message's paths, at most, in bytes.
constexpr std::uint32_t kMaxSandboxPathBytes = 16u << 20;
// A name that ListNames gives is at most this long (StormLib's MAX_PATH, less its NUL).
constexpr std::uint32_t kMaxListedName = 259;

// The protections a reader put in place (Sandbox reply value).
constexpr std::uint32_t kProtectFiles = 1;  // Landlock: reads its archives, nothing else
constexpr std::uint32_t kProtectCalls = 2;  // seccomp: the system calls its work needs

// A member claiming more than this many times the bytes its archive stores for it is a
// decompression bomb; ReadWhole does not read it.
constexpr std::uint64_t kMaxClaimFactor = 256;

// The reader's end of the socket pair, and the shared memory.
constexpr int kReaderSocketFd = 3;
constexpr int kReaderSharedFd = 4;
constexpr int kReaderStderrFd = 2;

// Exit status of a reader that stopped for memory outside a request (a failed allocation of its
// own), so the viewer can tell it from a crash.
constexpr int kExitOutOfMemory = 86;
// Exit status of a reader that was started by a viewer of another protocol version.
constexpr int kExitVersion = 87;

}  // namespace velmora::reader
