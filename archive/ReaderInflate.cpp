// zlib's inflate(), as StormLib calls it in the archive reader, decoded by libdeflate.
//
// StormLib decompresses a zlib-compressed sector (compression byte 0x02) in a single inflate()
// call after inflateInit(): the whole sector in, an output buffer of the sector's size out, done
// when the stream ends. zlib decodes such a call two to three times slower than libdeflate, which
// decodes a whole buffer at once, and in the reader that decoding is most of the work of reading
// a file. This definition in the reader program comes before libz's in the dynamic linker's
// search, so StormLib's calls land here (inflateInit and inflateEnd stay zlib's: the stream is a
// real zlib stream throughout).
//
// The whole stream is decoded here only on a stream's first call (nothing taken in or given out
// yet) and only when it decodes completely into the buffer given: the same bytes zlib gives, and
// the stream's pointers and counts moved as zlib moves them, with Z_STREAM_END. Anything else (a
// damaged or cut-off stream, one that would overflow the buffer, a later call) goes to zlib's own
// inflate as it stands, untouched, so what comes of it is zlib's: the partial output and the
// status StormLib has always seen. StormLib makes one call per stream: a stream decoded here is
// finished as far as zlib's own state goes only in the fields set below (zlib's state still
// awaits a header), so a second call on it would not answer Z_STREAM_END again.
#include <dlfcn.h>
#include <libdeflate.h>
#include <zlib.h>

#include <memory>

namespace {

struct TFreeDecompressor {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// True when the whole stream decoded into the output buffer, the stream moved past it.
bool InflateWhole(z_stream& strm) {
  if (strm.next_in == nullptr || strm.next_out == nullptr) return false;
  // A decompressor is scratch tables that each call starts afresh with (and the fixed Huffman
  // codes, built once): nothing one call leaves in it changes what another gives. Making one per
  // sector, zeroed and its fixed codes built again, made reading the demo's small textures about
  // a tenth slower, so each thread keeps one: inflate() has no argument to keep it in.
  thread_local const std::unique_ptr<libdeflate_decompressor, TFreeDecompressor> d(libdeflate_alloc_decompressor());
  if (!d) return false;
  std::size_t in = 0;
  std::size_t out = 0;
  if (libdeflate_zlib_decompress_ex(d.get(), strm.next_in, strm.avail_in, strm.next_out, strm.avail_out, &in, &out) !=
      LIBDEFLATE_SUCCESS) {
    return false;
  }
  strm.next_in += in;
  strm.avail_in -= static_cast<uInt>(in);
  strm.total_in += in;
  strm.next_out += out;
  strm.avail_out -= static_cast<uInt>(out);
  strm.total_out += out;
  // At the end of a zlib stream zlib leaves its checksum in adler: the stream's last four bytes,
  // big-endian, which libdeflate has checked against the output.
  const Bytef* check = strm.next_in - 4;
  strm.adler = (uLong{check[0]} << 24) | (uLong{check[1]} << 16) | (uLong{check[2]} << 8) | uLong{check[3]};
  return true;
}

}  // namespace

extern "C" int inflate(z_streamp strm, int flush) {
  if (strm != nullptr && strm->state != nullptr && strm->total_in == 0 && strm->total_out == 0 &&
      (flush == Z_NO_FLUSH || flush == Z_FINISH) && InflateWhole(*strm)) {
    return Z_STREAM_END;
  }
  using TInflate = int (*)(z_streamp, int);
  const auto zlibInflate = reinterpret_cast<TInflate>(::dlsym(RTLD_NEXT, "inflate"));
  return zlibInflate != nullptr ? zlibInflate(strm, flush) : Z_STREAM_ERROR;
}
