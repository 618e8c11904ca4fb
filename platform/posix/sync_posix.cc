// sync_posix.cc: Win32 events, the list semaphore and the multi-object wait on eventfd and poll.
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "platform/platform.h"
#include "platform/wait_source_posix.h"

namespace pb::platform {
namespace {

// What a Handle points to on this platform. An auto-reset event is consumed by reading its
// eventfd; a manual-reset event and a host's handle are only polled. The list semaphore
// (maximum count 1) keeps its count in memory, so that taking it while it is free and giving
// it back while nobody waits cost no system call; its eventfd only wakes the waits that sleep
// on it.
struct Waitable {
  int fd = -1;
  bool consume_on_wake = false;
  bool owns_fd = true;
  bool semaphore = false;
  std::atomic<int32_t> count{0};     // the semaphore's count: 1 free, 0 taken
  std::atomic<uint32_t> sleepers{0};  // waits that may sleep on the semaphore's eventfd
  // A manual-reset event of the plug-in's own: false while it is certainly not set, so that a
  // wait can pass over it without polling.
  std::atomic<bool> maybe_set{true};
  std::atomic<WaitSource*> source{nullptr};
  std::atomic<uint32_t> waiters{0};  // waits in progress that consult source
};

Waitable* AsWaitable(Handle h) { return static_cast<Waitable*>(h); }

Handle MakeEventFd(bool consume_on_wake, bool initially_set) {
  int fd = eventfd(initially_set ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) return nullptr;
  auto* w = new (std::nothrow) Waitable{fd, consume_on_wake, true};
  if (w == nullptr) {
    close(fd);
    return nullptr;
  }
  w->maybe_set.store(initially_set);
  return w;
}

bool TakeSemaphore(Waitable* w) {
  int32_t free_count = 1;
  return w->count.compare_exchange_strong(free_count, 0);
}

// Drains an eventfd; true when it was set (and is now clear).
bool TryConsume(int fd) {
  uint64_t value = 0;
  return read(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

}  // namespace

Handle CreateEventObject(bool manual_reset, bool initially_set) {
  return MakeEventFd(!manual_reset, initially_set);
}

Handle CreateListSemaphore() {
  Handle h = MakeEventFd(false, false);
  if (h != nullptr) {
    AsWaitable(h)->semaphore = true;
    AsWaitable(h)->count.store(1);
  }
  return h;
}

bool SetEventObject(Handle event) {
  if (event == nullptr) return false;
  AsWaitable(event)->maybe_set.store(true);
  uint64_t one = 1;
  // A counter that is already set stays set: a further write only adds to it and the next
  // consuming wait drains it whole, which is the auto-reset rule.
  return write(AsWaitable(event)->fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
}

bool ResetEventObject(Handle event) {
  if (event == nullptr) return false;
  AsWaitable(event)->maybe_set.store(false);
  TryConsume(AsWaitable(event)->fd);
  return true;
}

bool ReleaseListSemaphore(Handle semaphore) {
  Waitable* w = AsWaitable(semaphore);
  if (w == nullptr || !w->semaphore) return false;
  // A release beyond the maximum leaves the count at 1. A wait that registered as a sleeper
  // before this store looks at the count again after the wake-up; one that registers after it
  // sees the count before it sleeps.
  w->count.store(1);
  if (w->sleepers.load() == 0) return true;
  const uint64_t one = 1;
  return write(w->fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
}

void CloseHandleObject(Handle handle) {
  Waitable* w = AsWaitable(handle);
  if (w == nullptr) return;
  if (w->owns_fd && w->fd >= 0) close(w->fd);
  delete w;
}

Handle WrapHostHandle(void* host_value) {
  if (host_value == nullptr) return nullptr;
  const intptr_t fd = reinterpret_cast<intptr_t>(host_value);
  if (fd < 0 || fd > 0x7FFFFFFF) return nullptr;
  return new (std::nothrow) Waitable{static_cast<int>(fd), false, false};
}

void ReleaseHostHandle(Handle wrapped) { CloseHandleObject(wrapped); }

void BindWaitSource(Handle event, WaitSource* source) {
  if (event != nullptr) AsWaitable(event)->source.store(source, std::memory_order_release);
}

bool EventHasWaiter(Handle event) {
  return event != nullptr && AsWaitable(event)->waiters.load(std::memory_order_acquire) != 0;
}

namespace {

// Descriptors the wait sources of one wait may add to its poll, over all its handles.
constexpr uint32_t kMaxSourceFds = 64;

// The descriptors that a handle's source added to one poll.
struct SourceRange {
  uint32_t handle;
  uint32_t first;  // index into the poll array
  uint32_t count;
};

// The wait proper; sources[i] is the source consulted for handles[i] (null: none).
uint32_t WaitPolling(uint32_t count, const Handle* handles, WaitSource* const* sources,
                     bool any_source, uint32_t timeout_ms) {
  pollfd fds[kMaxWaitObjects + kMaxSourceFds];
  uint64_t tags[kMaxSourceFds];
  SourceRange ranges[kMaxWaitObjects];
  for (uint32_t i = 0; i < count; ++i) fds[i] = pollfd{AsWaitable(handles[i])->fd, POLLIN, 0};
  const uint64_t start = MonotonicMs();
  for (;;) {
    int wait_ms = -1;
    if (timeout_ms != kInfinite) {
      const uint64_t elapsed = MonotonicMs() - start;
      wait_ms = elapsed >= timeout_ms ? 0 : static_cast<int>(timeout_ms - elapsed);
    }
    uint32_t total = count;
    uint32_t range_count = 0;
    if (any_source) {
      for (uint32_t i = 0; i < count; ++i) {
        if (sources[i] == nullptr || total - count >= kMaxSourceFds) continue;
        const uint32_t added = sources[i]->Prepare(handles[i], fds + total, tags + (total - count),
                                                   kMaxSourceFds - (total - count));
        if (added == 0) continue;
        ranges[range_count++] = SourceRange{i, total, added};
        total += added;
      }
    }
    // A free semaphore is taken in the handles' order below: the poll only looks at the others.
    bool semaphore_free = false;
    for (uint32_t i = 0; i < count; ++i) {
      fds[i].revents = 0;
      const Waitable* w = AsWaitable(handles[i]);
      semaphore_free = semaphore_free || (w->semaphore && w->count.load() == 1);
    }
    const int n = poll(fds, total, semaphore_free ? 0 : wait_ms);
    if (n < 0) {
      if (errno == EINTR) continue;
      return kWaitFailed;
    }
    for (uint32_t i = 0; i < count; ++i) {
      if (fds[i].revents & (POLLNVAL | POLLERR)) return kWaitFailed;
      Waitable* w = AsWaitable(handles[i]);
      if (w->semaphore) {
        if ((fds[i].revents & POLLIN) != 0) TryConsume(w->fd);  // a release's wake-up
        if (TakeSemaphore(w)) return i;
        continue;
      }
      if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      // Another waiter may have consumed an auto-reset object between poll and read; then it
      // does not end this wait.
      if (!w->consume_on_wake || TryConsume(w->fd)) return i;
    }
    // What the sources' descriptors reported may set the events waited on: let the sources
    // evaluate it, then look at the events again, even when the time is up.
    bool collected = false;
    for (uint32_t r = 0; r < range_count; ++r) {
      const SourceRange& range = ranges[r];
      bool reported = false;
      for (uint32_t k = 0; k < range.count && !reported; ++k) {
        reported = fds[range.first + k].revents != 0;
      }
      if (!reported) continue;
      // What a source collects usually makes its own event due: this wait then takes it at
      // once, without the event's counter being written and read back. The handles before it
      // were not set at the poll; one set since then is no earlier.
      const bool take = AsWaitable(handles[range.handle])->consume_on_wake;
      if (sources[range.handle]->Collect(handles[range.handle], take, fds + range.first,
                                         tags + (range.first - count), range.count)) {
        return range.handle;
      }
      collected = true;
    }
    if (collected) continue;
    if (n == 0 && wait_ms == 0) return kWaitTimeout;
    if (timeout_ms != kInfinite && MonotonicMs() - start >= timeout_ms) return kWaitTimeout;
  }
}

// The index of a free semaphore taken without a system call: every handle before it is a
// manual-reset event of the plug-in's own that is certainly not set. kWaitFailed when the wait
// has to poll.
uint32_t TakeWithoutPolling(uint32_t count, const Handle* handles) {
  for (uint32_t i = 0; i < count; ++i) {
    Waitable* w = AsWaitable(handles[i]);
    if (w->semaphore) return TakeSemaphore(w) ? i : kWaitFailed;
    if (!w->owns_fd || w->consume_on_wake || w->maybe_set.load()) return kWaitFailed;
  }
  return kWaitFailed;
}

}  // namespace

uint32_t WaitForObjects(uint32_t count, const Handle* handles, uint32_t timeout_ms) {
  if (count == 0 || count > kMaxWaitObjects || handles == nullptr) return kWaitFailed;
  WaitSource* sources[kMaxWaitObjects];
  bool any_source = false;
  for (uint32_t i = 0; i < count; ++i) {
    Waitable* w = AsWaitable(handles[i]);
    if (w == nullptr || w->fd < 0) return kWaitFailed;
    sources[i] = w->source.load(std::memory_order_acquire);
    any_source = any_source || sources[i] != nullptr;
  }
  const uint32_t taken = TakeWithoutPolling(count, handles);
  if (taken != kWaitFailed) return taken;
  // Counted as a waiter before the first Prepare, so that a source that leaves events with a
  // waiter to that waiter never leaves one to nobody; counted as a semaphore's sleeper before
  // the first look at its count, so that a release after that look wakes the poll.
  for (uint32_t i = 0; i < count; ++i) {
    Waitable* w = AsWaitable(handles[i]);
    if (sources[i] != nullptr) w->waiters.fetch_add(1);
    if (w->semaphore) w->sleepers.fetch_add(1);
  }
  const uint32_t result = WaitPolling(count, handles, sources, any_source, timeout_ms);
  for (uint32_t i = 0; i < count; ++i) {
    Waitable* w = AsWaitable(handles[i]);
    if (w->semaphore) w->sleepers.fetch_sub(1);
    if (sources[i] != nullptr && w->waiters.fetch_sub(1) == 1) sources[i]->Released(handles[i]);
  }
  return result;
}

namespace {
struct ThreadStart {
  ThreadProc proc;
  void* arg;
};
void* ThreadMain(void* p) {
  ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  start.proc(start.arg);
  return nullptr;
}
}  // namespace

bool StartDetachedThread(ThreadProc proc, void* arg) {
  auto* start = new (std::nothrow) ThreadStart{proc, arg};
  if (start == nullptr) return false;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    delete start;
    return false;
  }
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int rc = pthread_create(&thread, &attr, ThreadMain, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete start;
    return false;
  }
  return true;
}

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

LocalTime NowLocal() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return LocalTime{local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

}  // namespace pb::platform
