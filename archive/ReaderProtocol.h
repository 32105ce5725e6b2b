// The messages between the viewer and its archive reader process (velmora-mpq-reader), which
// makes every StormLib call. Both ends are built from the same sources for the same machine, so
// numbers travel in host byte order.
//
// Transport: one SOCK_STREAM Unix socket pair; the reader finds its end as descriptor 3. The
// viewer sends one request and waits for its whole reply before it sends the next.
//
// Request: a 24-byte TRequestHeader, then `nameSize` bytes of name (no NUL).
//   kind           sequence   target        offset   length   name
//   OpenArchive    n          -             -        -        archive path (UTF-8)
//   CloseArchive   n          archive id    -        -        -
//   OpenFile       n          archive id    -        -        member name as listed
//   ReadFile       n          file id       offset   length   -       (positions, then reads)
//   SeekFile       n          file id       offset   -        -
//   CloseFile      n          file id       -        -        -
//   Fault*         n          -             -        -        -       (test builds only)
// Ids are the reader's own (table position + 1, never reused); the viewer maps its handles to
// them and opens its archives again under new ids after a restart. A listfile is read as any
// member: OpenFile "(listfile)", ReadFile of its size, CloseFile.
//
// Reply: data frames, then the end frame. A data frame is a uint32 byte count n > 0 and n bytes;
// the end frame is a uint32 0 and a 32-byte TReplyHeader. Only ReadFile sends data frames (at
// most 1 MiB each, in file order, never more than the requested length in all).
//   OpenArchive    status Ok: value = archive id; Failed: error = StormLib's error code
//   OpenFile       status Ok: value = file id, size = file size (64 bits; 0 when unknown)
//   ReadFile       value = position after the seek, size = payloadSize = bytes sent; status Ok
//                  when all `length` bytes were read, Failed for a short read
//   SeekFile       value = the new position (0xFFFFFFFF when StormLib refused it)
//   Close*         status Ok, nothing else
// Any request may be answered with status OutOfMemory instead: an allocation failed under the
// reader's address-space limit (StormLib's ERROR_NOT_ENOUGH_MEMORY included). The reader exits
// after sending it; the viewer counts it as the reader stopping for memory.
//
// Bulk bytes (file reads, listfiles) travel on the socket itself, in the data frames: the viewer
// receives them straight into its own buffer while the reader reads the next piece. A shared
// memory file was measured beside it (bench/transfer): about 1 ms faster for a 21 MiB texture
// only while its mapping stays at the largest size ever sent (a 50 MiB listfile kept resident in
// both processes), and 20 times slower when mapped afresh per read, since page faults are dear.
#pragma once

#include <cstdint>

namespace velmora::reader {

enum class TRequestKind : std::uint32_t {
  OpenArchive = 1,
  CloseArchive = 2,
  OpenFile = 3,
  ReadFile = 4,
  SeekFile = 5,
  CloseFile = 6,
  // Test builds of the reader only: misbehave as damaged archives make StormLib misbehave.
  FaultCrash = 100,
  FaultMemory = 101,
  FaultHang = 102,
};

enum class TReplyStatus : std::uint32_t { Ok = 0, Failed = 1, OutOfMemory = 2 };

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
  std::uint64_t payloadSize;
};
static_assert(sizeof(TReplyHeader) == 32);

// Largest data frame.
constexpr std::uint32_t kMaxChunk = 1u << 20;

// Names longer than this are refused by the viewer before they are sent; StormLib refuses far
// shorter ones anyway.
constexpr std::uint32_t kMaxNameSize = 1u << 20;

// The reader's end of the socket pair.
constexpr int kReaderSocketFd = 3;

// Exit status of a reader that stopped for memory outside a request (a failed allocation of its
// own), so the viewer can tell it from a crash.
constexpr int kExitOutOfMemory = 86;

}  // namespace velmora::reader
