// A texture's format in words, for the window's readout and the information it shows about a file:
// "BLP1, JPEG", "BLP1, palette, 8-bit alpha", "BLP2, DXT5", "BLP2, palette, 1-bit alpha",
// "BLP2, uncompressed".
#pragma once

#include <string>

#include "blp/Blp1Header.h"
#include "blp/BlpHeader.h"

namespace velmora::blp {

// From the BLP2 view of a file's first bytes: "BLP2, ..." for a BLP2 header, "BLP1" alone for a
// BLP1 magic (its fields lie elsewhere: see the overload below), "not a BLP file" otherwise.
// BLP2 encodings: "palette" with ", N-bit alpha" for depths 1, 4 and 8; "DXT1", "DXT3" or "DXT5"
// as the loader chooses; "uncompressed"; "JPEG" for JPEG content; "unknown encoding N".
std::string FormatName(const TBLP2Header& hdr);

// "BLP1, JPEG" or "BLP1, palette", with ", 8-bit alpha" (JPEG: any non-zero alpha depth; palette:
// depths 1, 4 and 8); "BLP1, unknown compression N"; "not a BLP file" for another magic.
std::string FormatName(const TBLP1Header& hdr);

}  // namespace velmora::blp
