// Names that come from archives and listfiles, made safe to show: on a terminal, in the log, in
// notices and tooltips a name is shown, never executed.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// `name` with every control character written as \xNN, byte by byte: C0 (0x00-0x1F), DEL (0x7F)
// and C1 (U+0080-U+009F, the UTF-8 bytes C2 80 to C2 9F, whose CSI 0x9B a terminal obeys like
// ESC [); and every byte of a malformed UTF-8 sequence. Well-formed text passes unchanged.
std::string EscapeName(std::string_view name);

}  // namespace velmora
