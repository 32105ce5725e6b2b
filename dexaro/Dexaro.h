/* Dexaro: software decoder for DXT1, DXT3 and DXT5 (S3TC) images into 32-bit RGBA pixels. */
#ifndef DEXARO_DEXARO_H
#define DEXARO_DEXARO_H

#include <stdint.h>

/* The three decoders are the library's only exports; everything else is hidden. */
#if defined(_WIN32)
#  if defined(DEXARO_BUILDING)
#    define DEXARO_API __declspec(dllexport)
#  else
#    define DEXARO_API __declspec(dllimport)
#  endif
#  define DEXARO_CALL __cdecl
#else
#  define DEXARO_API __attribute__((visibility("default")))
#  define DEXARO_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Each function decodes the (width / 4) x (height / 4) whole 4x4 blocks at src, in row-major
 * block order, into dst: width x height pixels, rows of width pixels, each pixel the bytes
 * R, G, B, A. Pixels of the partial last columns and rows are left as they are; nothing is
 * written when width or height is below 4. DXT1 blocks are 8 bytes, DXT3 and DXT5 blocks 16.
 * The functions allocate nothing, keep no state, may run on several threads at once into
 * separate destinations, and always return 0.
 */
DEXARO_API int32_t DEXARO_CALL DDSDecompressDXT1(const void* src, int32_t width, int32_t height, void* dst);
DEXARO_API int32_t DEXARO_CALL DDSDecompressDXT3(const void* src, int32_t width, int32_t height, void* dst);
DEXARO_API int32_t DEXARO_CALL DDSDecompressDXT5(const void* src, int32_t width, int32_t height, void* dst);

#ifdef __cplusplus
}
#endif

#endif /* DEXARO_DEXARO_H */
