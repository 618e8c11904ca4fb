// wait_until.h: waiting in tests for a condition, within time budgets that grow on slow builds.
#ifndef PEERBEACON_TESTS_WAIT_UNTIL_H_
#define PEERBEACON_TESTS_WAIT_UNTIL_H_

#include <cstdint>
#include <functional>

#if defined(__has_feature)
#define PB_TEST_HAS_FEATURE(name) __has_feature(name)
#else
#define PB_TEST_HAS_FEATURE(name) 0
#endif

namespace pb::test_support {

// How many times longer than in a plain native build the waits of a test may take. The
// sanitizers slow every thread down; the Windows build's tests run under Wine (the build sets
// PB_TEST_UNDER_EMULATOR), where the Wine server process also delivers the socket
// notifications and advances the tick clock, and has to share the machine with everything else.
inline constexpr uint32_t kBudgetFactor =
#if defined(PB_TEST_UNDER_EMULATOR)
    4;
#elif defined(__SANITIZE_THREAD__) || PB_TEST_HAS_FEATURE(thread_sanitizer)
    5;
#elif defined(__SANITIZE_ADDRESS__) || PB_TEST_HAS_FEATURE(address_sanitizer)
    3;
#else
    1;
#endif

// A budget given for a plain native build, scaled for this one. Budgets bound waits for
// something expected; they are never a speed the test asserts.
constexpr uint32_t ScaledMs(uint32_t ms) { return ms * kBudgetFactor; }

// The step of the coarsest tick clock the tests meet: Windows' clock moves in 10-16 ms steps.
inline constexpr uint32_t kClockStepMs = 16;
// How much shorter than the real interval an interval read on such a clock may come out: a
// step at each end, and under Wine the steps are taken by a process that may itself be late.
constexpr uint32_t ClockSlackMs() { return 2 * kClockStepMs * kBudgetFactor; }

// Polls done() until it returns true or ScaledMs(budget_ms) have passed; done() is asked
// once more at the end, so a condition that holds by then still counts. True when it held.
bool WaitUntil(const std::function<bool()>& done, uint32_t budget_ms = 10000);

}  // namespace pb::test_support

#endif  // PEERBEACON_TESTS_WAIT_UNTIL_H_
