// alloc_failure_for_test.h: makes the test program's allocations fail on demand, to drive the
// out-of-memory paths of the store. Linking alloc_failure_for_test.cc replaces the global
// operator new and delete of that program.
#ifndef PEERBEACON_STORE_ALLOC_FAILURE_FOR_TEST_H_
#define PEERBEACON_STORE_ALLOC_FAILURE_FOR_TEST_H_

namespace pb::test {

// While alive, the allocation numbered `first` (0: the next one) fails, and with `persistent`
// every later one too. Throwing forms throw std::bad_alloc; nothrow forms return null.
class ScopedAllocationFailure {
 public:
  explicit ScopedAllocationFailure(long first, bool persistent = true);
  ~ScopedAllocationFailure();
  ScopedAllocationFailure(const ScopedAllocationFailure&) = delete;
  ScopedAllocationFailure& operator=(const ScopedAllocationFailure&) = delete;
  // How many allocations have failed so far in this scope.
  long failures() const;
};

}  // namespace pb::test

#endif  // PEERBEACON_STORE_ALLOC_FAILURE_FOR_TEST_H_
