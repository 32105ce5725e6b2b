// Watches the plain operator new of this test program: while a probe is armed, the largest
// single request and the sum of all requests are kept. The texture loader's buffers are
// std::vectors, so this sees every buffer a header can make it take.
#pragma once

#include <cstddef>

namespace velmora::test {

class AllocationProbe {
public:
  AllocationProbe();   // arms, from zero
  ~AllocationProbe();  // disarms
  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;

  std::size_t Largest() const;
  std::size_t Total() const;
};

}  // namespace velmora::test
