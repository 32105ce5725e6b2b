// Replacement of the plain (unaligned) operator new and delete forms for this program: they
// count, then go to malloc and free. Every delete form is replaced together with the new forms,
// so that AddressSanitizer sees matching malloc and free pairs; the aligned forms stay the
// library's own, pairing among themselves.
#include "AllocationProbe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> Armed{false};
std::atomic<std::size_t> LargestSeen{0};
std::atomic<std::size_t> TotalSeen{0};

void* Allocate(std::size_t n) noexcept {
  if (Armed.load(std::memory_order_relaxed)) {
    TotalSeen.fetch_add(n, std::memory_order_relaxed);
    std::size_t seen = LargestSeen.load(std::memory_order_relaxed);
    while (n > seen && !LargestSeen.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
    }
  }
  return std::malloc(n != 0 ? n : 1);
}

void* AllocateOrThrow(std::size_t n) {
  void* p = Allocate(n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t n) { return AllocateOrThrow(n); }
void* operator new[](std::size_t n) { return AllocateOrThrow(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace velmora::test {

AllocationProbe::AllocationProbe() {
  LargestSeen = 0;
  TotalSeen = 0;
  Armed = true;
}

AllocationProbe::~AllocationProbe() { Armed = false; }

std::size_t AllocationProbe::Largest() const { return LargestSeen.load(); }
std::size_t AllocationProbe::Total() const { return TotalSeen.load(); }

}  // namespace velmora::test
