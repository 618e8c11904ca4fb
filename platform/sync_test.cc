// sync_test.cc: the Win32 wait rules of the events, the list semaphore and the multi-object wait.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/eventfd.h>
#include <unistd.h>
#endif

#include "platform/platform.h"
#include "tests/wait_until.h"

namespace pb::platform {
namespace {

// Polls without waiting: the index of the first set object, or kWaitTimeout.
uint32_t Poll(std::initializer_list<Handle> handles) {
  return WaitForObjects(static_cast<uint32_t>(handles.size()), handles.begin(), 0);
}

TEST(EventTest, ManualResetStaysSetUntilReset) {
  UniqueHandle event(CreateEventObject(true, false));
  ASSERT_TRUE(event);
  EXPECT_EQ(Poll({event.get()}), kWaitTimeout);
  ASSERT_TRUE(SetEventObject(event.get()));
  EXPECT_EQ(Poll({event.get()}), 0u);
  EXPECT_EQ(Poll({event.get()}), 0u);
  ASSERT_TRUE(ResetEventObject(event.get()));
  EXPECT_EQ(Poll({event.get()}), kWaitTimeout);
}

TEST(EventTest, AutoResetIsConsumedByOneWaitAndDoesNotCount) {
  UniqueHandle event(CreateEventObject(false, true));
  ASSERT_TRUE(event);
  EXPECT_EQ(Poll({event.get()}), 0u);
  EXPECT_EQ(Poll({event.get()}), kWaitTimeout);
  // Setting twice still releases a single wait.
  SetEventObject(event.get());
  SetEventObject(event.get());
  EXPECT_EQ(Poll({event.get()}), 0u);
  EXPECT_EQ(Poll({event.get()}), kWaitTimeout);
  SetEventObject(event.get());
  ResetEventObject(event.get());
  EXPECT_EQ(Poll({event.get()}), kWaitTimeout);
}

TEST(WaitTest, LowestSetIndexWinsAndOnlyTheWinnerIsConsumed) {
  UniqueHandle first(CreateEventObject(false, false));
  UniqueHandle second(CreateEventObject(false, true));
  UniqueHandle third(CreateEventObject(false, true));
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(Poll({first.get(), second.get(), third.get()}), 1u);
  EXPECT_EQ(Poll({first.get(), second.get(), third.get()}), 2u);
  EXPECT_EQ(Poll({first.get(), second.get(), third.get()}), kWaitTimeout);

  // A set manual-reset stop event in front keeps winning and leaves the socket event alone.
  UniqueHandle stop(CreateEventObject(true, true));
  UniqueHandle socket_event(CreateEventObject(false, true));
  ASSERT_TRUE(stop && socket_event);
  EXPECT_EQ(Poll({stop.get(), socket_event.get()}), 0u);
  EXPECT_EQ(Poll({stop.get(), socket_event.get()}), 0u);
  ResetEventObject(stop.get());
  EXPECT_EQ(Poll({stop.get(), socket_event.get()}), 1u);
}

TEST(WaitTest, TimeoutAndBadArguments) {
  UniqueHandle event(CreateEventObject(true, false));
  ASSERT_TRUE(event);
  const Handle handles[] = {event.get()};
  const uint64_t start = MonotonicMs();
  EXPECT_EQ(WaitForObjects(1, handles, 200), 258u);
  // The wait lasts its time-out, as far as the tick clock can tell.
  EXPECT_GE(MonotonicMs() - start, 200u - test_support::ClockSlackMs());

  const Handle with_null[] = {event.get(), nullptr};
  EXPECT_EQ(WaitForObjects(2, with_null, 0), kWaitFailed);
  EXPECT_EQ(WaitForObjects(0, handles, 0), kWaitFailed);
  EXPECT_EQ(WaitForObjects(kMaxWaitObjects + 1, handles, 0), kWaitFailed);
}

TEST(SemaphoreTest, HasOneCountEvenWhenReleasedTwice) {
  UniqueHandle lock(CreateListSemaphore());
  ASSERT_TRUE(lock);
  EXPECT_EQ(Poll({lock.get()}), 0u);
  EXPECT_EQ(Poll({lock.get()}), kWaitTimeout);
  ASSERT_TRUE(ReleaseListSemaphore(lock.get()));
  // A second release beyond the maximum must not let two holders in.
  ReleaseListSemaphore(lock.get());
  EXPECT_EQ(Poll({lock.get()}), 0u);
  EXPECT_EQ(Poll({lock.get()}), kWaitTimeout);
}

// Threads that take the semaphore beside a stop event, as the list's users do, and threads
// that take it alone, each hold it alone; a set stop wins over a free semaphore. A release
// that failed to wake a sleeping waiter would leave it asleep for its long time-out.
TEST(SemaphoreTest, KeepsItsHoldersApartAndLetsAStopWin) {
  UniqueHandle lock(CreateListSemaphore());
  UniqueHandle stop(CreateEventObject(true, false));
  ASSERT_TRUE(lock && stop);
  const Handle with_stop[] = {stop.get(), lock.get()};
  std::atomic<bool> inside{false};
  std::atomic<int32_t> overlaps{0}, failures{0};
  int64_t counted = 0;  // guarded by the semaphore alone
  std::atomic<int32_t> finished{0};
  constexpr int kThreads = 4, kRounds = 3000;
  constexpr uint32_t kLongMs = 120000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        const uint32_t woke = t % 2 == 0 ? WaitForObjects(2, with_stop, kLongMs)
                                         : WaitForObjects(1, with_stop + 1, kLongMs);
        if (woke != (t % 2 == 0 ? 1u : 0u)) {
          ++failures;
          continue;
        }
        if (inside.exchange(true)) ++overlaps;
        ++counted;
        std::this_thread::yield();  // held a little, so that the others sleep on it
        inside.store(false);
        ReleaseListSemaphore(lock.get());
      }
      ++finished;
    });
  }
  EXPECT_TRUE(test_support::WaitUntil([&] { return finished.load() == kThreads; }, 20000))
      << "a waiter slept through a release";
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(counted, int64_t{kThreads} * kRounds);

  ASSERT_TRUE(SetEventObject(stop.get()));
  EXPECT_EQ(Poll({stop.get(), lock.get()}), 0u) << "the stop comes first";
  ASSERT_TRUE(ResetEventObject(stop.get()));
  EXPECT_EQ(Poll({stop.get(), lock.get()}), 1u);
  EXPECT_EQ(Poll({stop.get(), lock.get()}), kWaitTimeout);
}

struct Waiter {
  Handle objects[2] = {};
  uint32_t count = 0;
  std::atomic<uint32_t> result{0xDEADu};
  Handle done = nullptr;
};

void WaitThread(void* arg) {
  auto* waiter = static_cast<Waiter*>(arg);
  waiter->result = WaitForObjects(waiter->count, waiter->objects, 10000);
  SetEventObject(waiter->done);
}

TEST(SemaphoreTest, ReleasedByAnotherThreadWakesTheWaiter) {
  UniqueHandle lock(CreateListSemaphore());
  UniqueHandle done(CreateEventObject(false, false));
  ASSERT_TRUE(lock && done);
  ASSERT_EQ(Poll({lock.get()}), 0u);  // held by this thread

  Waiter waiter;
  waiter.objects[0] = lock.get();
  waiter.count = 1;
  waiter.done = done.get();
  ASSERT_TRUE(StartDetachedThread(WaitThread, &waiter));
  SleepMs(50);
  EXPECT_EQ(Poll({done.get()}), kWaitTimeout) << "the waiter got the lock while it was held";
  ASSERT_TRUE(ReleaseListSemaphore(lock.get()));
  const Handle wait_done[] = {done.get()};
  ASSERT_EQ(WaitForObjects(1, wait_done, 10000), 0u);
  EXPECT_EQ(waiter.result.load(), 0u);
  // The waiter now holds it.
  EXPECT_EQ(Poll({lock.get()}), kWaitTimeout);
}

TEST(WaitTest, SetFromAnotherThreadEndsAnInfiniteStyleWait) {
  UniqueHandle stop(CreateEventObject(true, false));
  UniqueHandle news(CreateEventObject(false, false));
  UniqueHandle done(CreateEventObject(false, false));
  ASSERT_TRUE(stop && news && done);
  const Handle wait_done[] = {done.get()};

  Waiter waiter;
  waiter.objects[0] = stop.get();
  waiter.objects[1] = news.get();
  waiter.count = 2;
  waiter.done = done.get();
  ASSERT_TRUE(StartDetachedThread(WaitThread, &waiter));
  SleepMs(20);
  SetEventObject(news.get());
  ASSERT_EQ(WaitForObjects(1, wait_done, 10000), 0u);
  EXPECT_EQ(waiter.result.load(), 1u);
  EXPECT_EQ(Poll({news.get()}), kWaitTimeout) << "the waiter's wake-up did not consume it";

  ASSERT_TRUE(StartDetachedThread(WaitThread, &waiter));
  SleepMs(20);
  SetEventObject(stop.get());
  ASSERT_EQ(WaitForObjects(1, wait_done, 10000), 0u);
  EXPECT_EQ(waiter.result.load(), 0u);
}

// The host's cancel handle (a manual-reset event on Windows): waitable through the wrapper,
// never consumed or closed by it.
TEST(HostHandleTest, WrapperWaitsWithoutConsumingOrClosing) {
#if defined(_WIN32)
  HANDLE host = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(host, nullptr);
  void* host_value = host;
  auto signal = [&] { SetEvent(host); };
  auto still_signalled = [&] { return WaitForSingleObject(host, 0) == WAIT_OBJECT_0; };
  auto close_host = [&] { return CloseHandle(host) != FALSE; };
#else
  const int host = eventfd(0, EFD_NONBLOCK);
  ASSERT_GE(host, 0);
  void* host_value = reinterpret_cast<void*>(static_cast<intptr_t>(host));
  auto signal = [&] {
    uint64_t one = 1;
    ASSERT_EQ(write(host, &one, sizeof one), static_cast<ssize_t>(sizeof one));
  };
  auto still_signalled = [&] {
    uint64_t value = 0;
    return read(host, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
  };
  auto close_host = [&] { return close(host) == 0; };
#endif
  Handle wrapped = WrapHostHandle(host_value);
  ASSERT_NE(wrapped, nullptr);
  EXPECT_EQ(Poll({wrapped}), kWaitTimeout);
  signal();
  EXPECT_EQ(Poll({wrapped}), 0u);
  ReleaseHostHandle(wrapped);
  EXPECT_TRUE(still_signalled()) << "the wrapper consumed the host's signal";
  EXPECT_TRUE(close_host()) << "the wrapper closed the host's handle";
}

TEST(TimeTest, ClockAdvancesAndLocalTimeIsInRange) {
  // Long against the clock's steps: a step more or less at either end cannot decide it.
  const uint64_t before = MonotonicMs();
  SleepMs(200);
  EXPECT_GE(MonotonicMs() - before, 200u - test_support::ClockSlackMs());
  const LocalTime now = NowLocal();
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.minute, 59);
  EXPECT_LE(now.second, 60);
}

}  // namespace
}  // namespace pb::platform
