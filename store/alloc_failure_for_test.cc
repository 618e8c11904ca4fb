// alloc_failure_for_test.cc: the replaced global allocation functions behind
// ScopedAllocationFailure; outside a scope they are plain malloc and free.
#include "store/alloc_failure_for_test.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_armed{false};
std::atomic<long> g_countdown{0};  // allocations left before the first failure
std::atomic<bool> g_persistent{true};
std::atomic<long> g_failures{0};

bool ShouldFail() {
  if (!g_armed.load(std::memory_order_relaxed)) return false;
  const long left = g_countdown.fetch_sub(1, std::memory_order_relaxed);
  const bool fail = left == 0 || (left < 0 && g_persistent.load(std::memory_order_relaxed));
  if (fail) g_failures.fetch_add(1, std::memory_order_relaxed);
  return fail;
}

void* Allocate(std::size_t size) {
  if (ShouldFail()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

namespace pb::test {

ScopedAllocationFailure::ScopedAllocationFailure(long first, bool persistent) {
  g_failures.store(0);
  g_persistent.store(persistent);
  g_countdown.store(first);
  g_armed.store(true);
}

ScopedAllocationFailure::~ScopedAllocationFailure() { g_armed.store(false); }

long ScopedAllocationFailure::failures() const { return g_failures.load(); }

}  // namespace pb::test

void* operator new(std::size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
