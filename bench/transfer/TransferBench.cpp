// How the archive reader should hand bulk bytes to the viewer: through its socket, or through a
// shared memory file (memfd). A child process plays the reader: it reads the bytes from a file in
// the page cache, as StormLib reads a stored member, and passes them on; the parent plays the
// viewer and wants them in a buffer of its own. Prints milliseconds per transfer for a 21 MiB
// texture read (2048 x 2048 uncompressed with mips) and a 50 MiB listfile, next to a plain copy
// into the same fresh buffer (its page faults alone are most of the 50 MiB figure).
//
//   bench_transfer [runs=9]
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kChunk = std::size_t{1} << 20;  // what the reader reads per StormLib call

enum class TWay : std::uint32_t { CopyAlone, SocketChunks, SocketWhole, MemfdKept, MemfdFresh, MemfdPieces };

// The archive reader's way: a shared memory file of this size, mapped once by both, one request
// per piece.
constexpr std::size_t kPiece = std::size_t{8} << 20;

const char* Name(TWay w) {
  switch (w) {
    case TWay::CopyAlone: return "copy alone (the floor)";
    case TWay::SocketChunks: return "socket, 1 MiB chunks";
    case TWay::SocketWhole: return "socket, whole read first";
    case TWay::MemfdKept: return "memfd, mapping kept";
    case TWay::MemfdFresh: return "memfd, new per read";
    case TWay::MemfdPieces: return "memfd, 8 MiB kept, pieces";
  }
  return "?";
}

bool WriteAll(int fd, const void* p, std::size_t n) {
  const char* c = static_cast<const char*>(p);
  while (n > 0) {
    const ssize_t w = ::send(fd, c, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    c += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

bool ReadAll(int fd, void* p, std::size_t n) {
  char* c = static_cast<char*>(p);
  while (n > 0) {
    const ssize_t r = ::recv(fd, c, n, 0);
    if (r <= 0) return false;
    c += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

struct TRequest {
  TWay way;
  std::uint64_t size;
  std::uint64_t offset = 0;
};

// The reader: answers each request with `size` bytes of the source file.
void Serve(int sock, int source, int memfd, char* pieces) {
  std::vector<char> buffer;
  char* kept = nullptr;
  std::size_t keptSize = 0;
  TRequest rq{};
  while (ReadAll(sock, &rq, sizeof rq)) {
    const std::size_t size = rq.size;
    if (rq.way == TWay::SocketChunks) {
      buffer.resize(kChunk);
      for (std::size_t at = 0; at < size; at += kChunk) {
        const std::size_t n = std::min(kChunk, size - at);
        if (::pread(source, buffer.data(), n, static_cast<off_t>(at)) != static_cast<ssize_t>(n)) return;
        if (!WriteAll(sock, buffer.data(), n)) return;
      }
    } else if (rq.way == TWay::MemfdPieces) {
      if (::pread(source, pieces, size, static_cast<off_t>(rq.offset)) != static_cast<ssize_t>(size)) return;
      const char done = 1;
      if (!WriteAll(sock, &done, 1)) return;
    } else if (rq.way == TWay::SocketWhole) {
      std::vector<char> whole(size);
      if (::pread(source, whole.data(), size, 0) != static_cast<ssize_t>(size)) return;
      if (!WriteAll(sock, whole.data(), size)) return;
    } else {
      const bool fresh = rq.way == TWay::MemfdFresh;
      if (fresh || keptSize < size) {
        if (kept) ::munmap(kept, keptSize);
        if (::ftruncate(memfd, static_cast<off_t>(size)) != 0) return;
        kept = static_cast<char*>(::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, memfd, 0));
        keptSize = size;
      }
      if (::pread(source, kept, size, 0) != static_cast<ssize_t>(size)) return;
      if (fresh) {
        ::munmap(kept, keptSize);
        kept = nullptr;
        keptSize = 0;
      }
      const char done = 1;
      if (!WriteAll(sock, &done, 1)) return;
    }
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  const std::size_t kTexture = 22369776;  // 2048 x 2048 x 4 bytes and every smaller level
  const std::size_t kListFile = 50u << 20;
  const std::size_t largest = std::max(kTexture, kListFile);

  char name[] = "/tmp/velmora-transfer-XXXXXX";
  const int source = ::mkstemp(name);
  if (source < 0) return 1;
  ::unlink(name);
  {
    std::vector<char> bytes(largest);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 2654435761u >> 13);
    if (::write(source, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return 1;
  }
  const int memfd = ::memfd_create("velmora-transfer", MFD_CLOEXEC);
  const int piecefd = ::memfd_create("velmora-transfer-pieces", MFD_CLOEXEC);
  int sv[2];
  if (memfd < 0 || piecefd < 0 || ::ftruncate(piecefd, kPiece) != 0 ||
      ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
    return 1;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(sv[0]);
    void* p = ::mmap(nullptr, kPiece, PROT_READ | PROT_WRITE, MAP_SHARED, piecefd, 0);
    if (p == MAP_FAILED) ::_exit(1);
    Serve(sv[1], source, memfd, static_cast<char*>(p));
    ::_exit(0);
  }
  ::close(sv[1]);
  const int sock = sv[0];
  void* mapped = ::mmap(nullptr, kPiece, PROT_READ, MAP_SHARED | MAP_POPULATE, piecefd, 0);
  if (mapped == MAP_FAILED) return 1;
  const char* pieces = static_cast<const char*>(mapped);

  char* kept = nullptr;
  std::size_t keptSize = 0;
  std::printf("%-28s %14s %14s   (median of %d, ms per transfer into the viewer's buffer)\n", "way", "21 MiB read",
              "50 MiB list", runs);
  std::vector<char> local(largest);
  if (::pread(source, local.data(), largest, 0) != static_cast<ssize_t>(largest)) return 1;
  for (TWay way : {TWay::CopyAlone, TWay::SocketChunks, TWay::SocketWhole, TWay::MemfdKept, TWay::MemfdFresh,
                   TWay::MemfdPieces}) {
    double ms[2] = {};
    int column = 0;
    for (std::size_t size : {kTexture, kListFile}) {
      std::vector<double> times;
      for (int r = 0; r <= runs; ++r) {
        // A new buffer each time, as the viewer allocates one per level or listfile.
        const auto t0 = Clock::now();
        auto dst = std::make_unique_for_overwrite<char[]>(size);
        const TRequest rq{way, size};
        if (way == TWay::CopyAlone) {
          std::memcpy(dst.get(), local.data(), size);
        } else if (way == TWay::MemfdPieces) {
          for (std::size_t at = 0; at < size; at += kPiece) {
            const TRequest piece{way, std::min(kPiece, size - at), at};
            char done = 0;
            if (!WriteAll(sock, &piece, sizeof piece) || !ReadAll(sock, &done, 1)) return 1;
            std::memcpy(dst.get() + at, pieces, piece.size);
          }
        } else if (!WriteAll(sock, &rq, sizeof rq)) {
          return 1;
        } else if (way == TWay::SocketChunks || way == TWay::SocketWhole) {
          if (!ReadAll(sock, dst.get(), size)) return 1;
        } else {
          char done = 0;
          if (!ReadAll(sock, &done, 1)) return 1;
          if (way == TWay::MemfdFresh || keptSize < size) {
            if (kept) ::munmap(kept, keptSize);
            kept = static_cast<char*>(::mmap(nullptr, size, PROT_READ, MAP_SHARED, memfd, 0));
            keptSize = size;
          }
          std::memcpy(dst.get(), kept, size);
          if (way == TWay::MemfdFresh) {
            ::munmap(kept, keptSize);
            kept = nullptr;
            keptSize = 0;
          }
        }
        const double t = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (dst[size - 1] != static_cast<char>((size - 1) * 2654435761u >> 13)) return 1;
        if (r > 0) times.push_back(t);  // the first run warms the page cache and the mappings
      }
      ms[column++] = Median(times);
    }
    std::printf("%-28s %14.2f %14.2f\n", Name(way), ms[0], ms[1]);
  }
  ::close(sock);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return 0;
}
