// The one error the texture loader raises: a buffer that cannot be allocated.
#pragma once

#include <stdexcept>
#include <string>

namespace velmora {

// Raised when a header asks for a buffer no honest file can need (beyond the GL texture size
// limit, beyond 64-bit arithmetic, a level size of 2^31 bytes or more) or when memory runs out.
// The message names the size, e.g. "cannot allocate 70000 x 70000 RGBA pixels (limit 16384)".
class TAllocationError : public std::runtime_error {
public:
  explicit TAllocationError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace velmora
