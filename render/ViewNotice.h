// Why the shown texture cannot be seen, or not all of it: a few words for the notice above the
// view. No GL.
#pragma once

#include <string>

#include "blp/ZanthBLP.h"

namespace velmora {

// Empty when the file loaded whole. Otherwise one line per problem, the one that hides the
// picture first: reading it stopped the archive reader ("reading <name> stopped the archive
// reader: crash"), the file could not be opened or is empty, the header refuses it ("BLP1 texture
// (JPEG content): not supported", "not a BLP2 file"), the palette or level 0 is missing, a BLP1
// level's JPEG cannot be decoded ("level 0: the JPEG is 128 x 128, the level 256 x 256: nothing to
// show"), or levels are short or lie past the end of the file ("level 0 is 4096 bytes short: the
// rest is shown black").
std::string TextureNotice(const TBlpTexture& texture);

}  // namespace velmora
