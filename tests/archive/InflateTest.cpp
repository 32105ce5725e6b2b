// The archive reader's inflate() against zlib's own, call for call: the sector streams StormLib
// hands it, whole, damaged, cut short or larger than the buffer, must leave the same status, the
// same output bytes and the same stream fields as zlib leaves them. This program links the
// reader's inflate, so `inflate` here is that one; zlib's is found past it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using TInflate = int (*)(z_streamp, int);

struct TOutcome {
  int status = 0;
  std::vector<std::uint8_t> out;  // what was written into the buffer
  uLong totalIn = 0, totalOut = 0, adler = 0;
  uInt availIn = 0, availOut = 0;
};

// One stream as StormLib decodes a sector: inflateInit, one call, inflateEnd.
TOutcome Decode(TInflate call, const std::vector<std::uint8_t>& in, std::size_t outSize, int flush) {
  std::vector<std::uint8_t> buffer(outSize + 1, 0xA5);  // one byte more, to catch an overrun
  z_stream z{};
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = buffer.data();
  z.avail_out = static_cast<uInt>(outSize);
  TOutcome o;
  EXPECT_EQ(inflateInit(&z), Z_OK);
  o.status = call(&z, flush);
  o.totalIn = z.total_in;
  o.totalOut = z.total_out;
  o.availIn = z.avail_in;
  o.availOut = z.avail_out;
  o.adler = o.status == Z_STREAM_END ? z.adler : 0;
  EXPECT_EQ(z.next_in, in.data() + z.total_in);
  EXPECT_EQ(z.next_out, buffer.data() + z.total_out);
  inflateEnd(&z);
  EXPECT_EQ(buffer[outSize], 0xA5) << "byte written past the buffer";
  o.out.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(outSize));
  return o;
}

std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& data, int level) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<std::uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level), Z_OK);
  out.resize(size);
  return out;
}

TEST(InflateTest, EveryStreamEndsAsZlibEndsIt) {
  // A sector of texture-like bytes: runs and noise.
  std::mt19937 rng(7);
  std::vector<std::uint8_t> sector(4096);
  for (std::size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<std::uint8_t>(i % 97 < 60 ? i / 97 : rng());
  const std::vector<std::uint8_t> packed = Compress(sector, 9);
  const std::vector<std::uint8_t> stored = Compress(sector, 0);
  const std::vector<std::uint8_t> empty = Compress({}, 6);
  auto changed = [&](std::size_t at) {
    std::vector<std::uint8_t> v = packed;
    v[at] ^= 0x5A;
    return v;
  };
  auto cut = [&](std::size_t keep) { return std::vector<std::uint8_t>(packed.begin(), packed.begin() + keep); };
  std::vector<std::uint8_t> trailing = packed;
  trailing.insert(trailing.end(), {1, 2, 3, 4});

  struct TCase {
    const char* what;
    std::vector<std::uint8_t> in;
    std::size_t outSize;
    int flush = Z_NO_FLUSH;
  };
  const std::vector<TCase> cases = {
      {"whole, buffer of its size", packed, sector.size()},
      {"whole, larger buffer", packed, sector.size() + 100},
      {"whole, Z_FINISH", packed, sector.size(), Z_FINISH},
      {"stored blocks", stored, sector.size()},
      {"empty stream", empty, 16},
      {"bytes after the stream", trailing, sector.size()},
      {"buffer too small", packed, sector.size() / 2},
      {"cut in the middle", cut(packed.size() / 2), sector.size()},
      {"checksum cut off", cut(packed.size() - 2), sector.size()},
      {"byte changed in the data", changed(packed.size() / 3), sector.size()},
      {"checksum changed", changed(packed.size() - 1), sector.size()},
      {"header changed", changed(0), sector.size()},
      {"nothing in", {}, sector.size()},
  };
  const auto zlib = reinterpret_cast<TInflate>(::dlsym(RTLD_NEXT, "inflate"));
  ASSERT_NE(zlib, nullptr);
  ASSERT_NE(zlib, &inflate) << "zlib's inflate is not the one under test";
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const TOutcome want = Decode(zlib, c.in, c.outSize, c.flush);
    const TOutcome got = Decode(&inflate, c.in, c.outSize, c.flush);
    EXPECT_EQ(got.status, want.status);
    EXPECT_EQ(got.totalIn, want.totalIn);
    EXPECT_EQ(got.totalOut, want.totalOut);
    EXPECT_EQ(got.availIn, want.availIn);
    EXPECT_EQ(got.availOut, want.availOut);
    EXPECT_EQ(got.adler, want.adler);
    for (std::size_t i = 0; i < want.out.size(); ++i) {
      if (got.out[i] != want.out[i]) {
        ADD_FAILURE() << "output byte " << i << ": " << int{got.out[i]} << ", zlib " << int{want.out[i]};
        break;
      }
    }
  }
}

}  // namespace
