// wait_until.cc: the polling loop behind the tests' condition waits.
#include "tests/wait_until.h"

#include "platform/platform.h"

namespace pb::test_support {
namespace {

// Short against any budget, long enough not to starve the threads being waited for.
constexpr uint32_t kPollMs = 5;

}  // namespace

bool WaitUntil(const std::function<bool()>& done, uint32_t budget_ms) {
  const uint64_t deadline = platform::MonotonicMs() + ScaledMs(budget_ms);
  while (!done()) {
    if (platform::MonotonicMs() >= deadline) return done();
    platform::SleepMs(kPollMs);
  }
  return true;
}

}  // namespace pb::test_support
