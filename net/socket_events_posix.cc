// socket_events_posix.cc: the Linux notification source: Winsock's posting rules evaluated by the
// threads that wait on the sockets' events, and one poll thread for sockets nobody waits on.
//
// A thread that waits on an armed socket's event polls the socket itself, in the same poll as
// the event (a wait source bound to the event), and applies the posting rules to what it saw
// under the table lock, as the poll thread would: its own wait then ends without a round trip
// through another thread. The poll thread watches only the slots whose event has no waiter at
// the moment, and slots changed by another thread while their waiter was already polling.
// Whoever applies a poll result first posts; a result applied after any change of the slot is
// dropped (see ApplyLocked), so nothing is posted twice.
//
// The owner of a socket changes its slot many times per exchange (arming, receiving) and
// usually waits on it right after, which makes it the slot's poller. So a change of a slot the
// poll thread does not hold in its poll is handed over late: the poll thread looks again after
// kHandOverMs, by which time the owner usually waits. A change of a slot the poll thread holds
// wakes it at once, so that it never keeps polling a closed socket (a poll keeps the file, and
// with it the connection, open) nor misses the change for long.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <new>
#include <system_error>
#include <thread>

#include "net/socket.h"
#include "net/socket_events_backend.h"
#include "net/socket_events_rules_posix.h"
#include "platform/wait_source_posix.h"

namespace pb::socket_events {
namespace {

// How long after a change of a slot nobody polls the poll thread looks at it.
constexpr long kHandOverMs = 2;

struct Runner {
  std::thread thread;
  int wake_fd = -1;
  int timer_fd = -1;         // expires kHandOverMs after a hand-over was asked for
  bool stop = false;         // guarded by the table lock
  bool timer_armed = false;  // guarded by the table lock
};

// The slots in the poll thread's current poll (guarded by the table lock).
bool g_in_poll_thread[kSocketEventSlotCount];

// The event whose waiter is collecting its poll result, and whether that collection made it
// due (guarded by the table lock). The waiter takes such an event as set: it is not written.
platform::Handle g_collecting = nullptr;
bool g_collected_due = false;

void WakeLocked(void* target) {
  auto* runner = static_cast<Runner*>(target);
  if (runner == nullptr) return;
  const uint64_t one = 1;
  // A full counter (never in practice) already means "wake".
  [[maybe_unused]] const ssize_t n = write(runner->wake_fd, &one, sizeof one);
}

// True when the poll thread watches slot i: nobody waits on its event, or the slot changed
// while its waiters were polling with what they had prepared before.
bool PollThreadWatchesLocked(uint32_t i) {
  return PollSlots()[i].poll_thread_too || !platform::EventHasWaiter(Table().slots[i].event);
}

// Lets the poll thread look at the table again after kHandOverMs, unless it is due to already.
void HandOverLocked(void* target) {
  auto* runner = static_cast<Runner*>(target);
  if (runner == nullptr || runner->timer_armed) return;
  const itimerspec due{{0, 0}, {0, kHandOverMs * 1000000L}};
  if (timerfd_settime(runner->timer_fd, 0, &due, nullptr) == 0) {
    runner->timer_armed = true;
  } else {
    WakeLocked(runner);
  }
}

// After slot i changed outside a poll result (or was freed). Waiters that already prepared their
// poll do not know of the change, so the poll thread takes the slot on, at once, until they are
// gone.
void ChangedLocked(uint32_t i) {
  if (platform::EventHasWaiter(Table().slots[i].event)) {
    PollSlots()[i].poll_thread_too = true;
    WakeLocked(TargetLocked());
  } else if (g_in_poll_thread[i]) {
    WakeLocked(TargetLocked());
  } else if (Table().slots[i].socket != kInvalidSocket) {
    HandOverLocked(TargetLocked());
  }
}

void PollLoop(Runner* runner) {
  pthread_setname_np(pthread_self(), "pb-sockpoll");
  pollfd fds[kSocketEventSlotCount + 2];
  uint32_t slot_of[kSocketEventSlotCount];
  PollWatch watch_of[kSocketEventSlotCount];
  for (;;) {
    nfds_t count = 0;
    {
      std::lock_guard<std::mutex> lock(TableMutex());
      if (runner->stop) return;
      for (uint32_t i = 0; i < kSocketEventSlotCount; ++i) {
        g_in_poll_thread[i] = false;
        if (Table().slots[i].socket == kInvalidSocket || !PollThreadWatchesLocked(i)) continue;
        if (!WatchLocked(i, &watch_of[count])) continue;
        fds[count] = pollfd{watch_of[count].fd, watch_of[count].events, 0};
        slot_of[count] = i;
        g_in_poll_thread[i] = true;
        ++count;
      }
    }
    fds[count] = pollfd{runner->wake_fd, POLLIN, 0};
    fds[count + 1] = pollfd{runner->timer_fd, POLLIN, 0};
    const int ready = poll(fds, count + 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      // Cannot happen with valid arguments; pausing keeps a broken poll from spinning.
      platform::SleepMs(10);
      continue;
    }
    if ((fds[count].revents & POLLIN) != 0) {
      uint64_t value = 0;
      [[maybe_unused]] const ssize_t n = read(runner->wake_fd, &value, sizeof value);
    }
    std::lock_guard<std::mutex> lock(TableMutex());
    if (runner->stop) return;
    if ((fds[count + 1].revents & POLLIN) != 0) {
      uint64_t expirations = 0;
      [[maybe_unused]] const ssize_t n = read(runner->timer_fd, &expirations, sizeof expirations);
      runner->timer_armed = false;
    }
    for (nfds_t k = 0; k < count; ++k) ApplyLocked(slot_of[k], watch_of[k], fds[k].revents);
  }
}

// The wait source bound to every armed socket's event: a waiter polls the sockets armed with
// that event and applies the posting rules itself. Nothing is watched or posted while the
// dispatcher is closed.
class SocketWaitSource final : public platform::WaitSource {
 public:
  uint32_t Prepare(platform::Handle event, pollfd* fds, uint64_t* tags, uint32_t room) override {
    std::lock_guard<std::mutex> lock(TableMutex());
    if (TargetLocked() == nullptr) return 0;
    uint32_t count = 0;
    for (uint32_t i = 0; i < kSocketEventSlotCount && count < room; ++i) {
      if (Table().slots[i].event != event || Table().slots[i].socket == kInvalidSocket) continue;
      PollWatch watch;
      if (!WatchLocked(i, &watch)) continue;
      fds[count] = pollfd{watch.fd, watch.events, 0};
      tags[count] = Tag(i, watch);
      ++count;
    }
    return count;
  }

  bool Collect(platform::Handle event, bool take, const pollfd* fds, const uint64_t* tags,
               uint32_t count) override {
    std::lock_guard<std::mutex> lock(TableMutex());
    if (TargetLocked() == nullptr) return false;
    g_collecting = take ? event : nullptr;
    g_collected_due = false;
    for (uint32_t k = 0; k < count; ++k) {
      const uint32_t i = static_cast<uint32_t>(tags[k] & 0xFFu);
      if (fds[k].revents == 0 || i >= kSocketEventSlotCount) continue;
      const PollWatch watch{fds[k].fd, static_cast<short>((tags[k] >> 8) & 0xFFFFu),
                            static_cast<uint32_t>(tags[k] >> 32)};
      ApplyLocked(i, watch, fds[k].revents);
    }
    g_collecting = nullptr;
    return g_collected_due;
  }

  // The last waiter has gone: the poll thread takes its slots back when anything may be due.
  // The owner usually waits again soon, so they are handed over late.
  void Released(platform::Handle event) override {
    std::lock_guard<std::mutex> lock(TableMutex());
    if (TargetLocked() == nullptr) return;
    bool wake = false;
    for (uint32_t i = 0; i < kSocketEventSlotCount; ++i) {
      if (Table().slots[i].event != event || Table().slots[i].socket == kInvalidSocket) continue;
      PollSlots()[i].poll_thread_too = false;
      PollWatch watch;
      wake = wake || WatchLocked(i, &watch);
    }
    if (wake) HandOverLocked(TargetLocked());
  }

 private:
  // Slot index, poll events and generation in one word.
  static uint64_t Tag(uint32_t i, const PollWatch& watch) {
    return (static_cast<uint64_t>(watch.generation) << 32) |
           (static_cast<uint64_t>(static_cast<uint16_t>(watch.events)) << 8) | i;
  }
};

SocketWaitSource g_wait_source;

// Applies change to the slot of socket, if it has one, and lets the pollers look again.
template <typename Change>
void TouchSlot(SocketHandle socket, Change change) {
  if (socket == kInvalidSocket) return;
  std::lock_guard<std::mutex> lock(TableMutex());
  if (!EverOpenedLocked()) return;
  SocketEventTable& table = Table();
  for (uint32_t i = 0; i < kSocketEventSlotCount; ++i) {
    if (table.slots[i].socket != socket) continue;
    PollSlot& p = PollSlots()[i];
    change(&p);
    p.suspended = false;
    ++p.generation;
    ChangedLocked(i);
    return;
  }
}

}  // namespace

void* BackendOpen(void* /*window*/) {
  auto* runner = new (std::nothrow) Runner;
  if (runner == nullptr) return nullptr;
  runner->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  runner->timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (runner->wake_fd >= 0 && runner->timer_fd >= 0) {
    try {
      runner->thread = std::thread(PollLoop, runner);
      return runner;
    } catch (const std::system_error&) {
    }
  }
  if (runner->wake_fd >= 0) close(runner->wake_fd);
  if (runner->timer_fd >= 0) close(runner->timer_fd);
  delete runner;
  return nullptr;
}

void BackendClose(void* target) {
  auto* runner = static_cast<Runner*>(target);
  {
    std::lock_guard<std::mutex> lock(TableMutex());
    runner->stop = true;
    WakeLocked(runner);
  }
  runner->thread.join();
  close(runner->wake_fd);
  close(runner->timer_fd);
  delete runner;
}

void BackendResetLocked() {
  for (uint32_t i = 0; i < kSocketEventSlotCount; ++i) {
    ResetSlot(&PollSlots()[i]);
    g_in_poll_thread[i] = false;
  }
}

void BackendSetEventLocked(platform::Handle event) {
  if (event != nullptr && event == g_collecting) {
    g_collected_due = true;
  } else {
    platform::SetEventObject(event);
  }
}

void BackendSelectLocked(void* target, uint32_t slot, SocketHandle socket, uint32_t mask,
                         bool new_slot) {
  PollSlot& p = PollSlots()[slot];
  if (mask == 0 || new_slot) {
    ResetSlot(&p);
  } else {
    // As WSAAsyncSelect: every event is enabled again; the connection attempt keeps its state.
    // A connected or listening socket stays so until it is closed (a connection that ends is
    // still in the connected phase, which reports its end), so that is not read again.
    const PollSlot before = p;
    ResetSlot(&p);
    p.connect_pending = before.connect_pending;
    p.connect_done = before.connect_done;
    p.connect_failed = before.connect_failed;
    if (!before.closed && (before.phase == Phase::kConnected || before.phase == Phase::kListening)) {
      p.phase = before.phase;
      p.datagram = before.datagram;
    }
  }
  if (mask != 0) {
    // Arming makes a socket non-blocking; one armed before already is.
    if (new_slot) {
      const int fd = AsFd(socket);
      const int flags = fd < 0 ? -1 : fcntl(fd, F_GETFL);
      if (flags >= 0 && (flags & O_NONBLOCK) == 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
    platform::BindWaitSource(Table().slots[slot].event, &g_wait_source);
  }
  if (target != nullptr) ChangedLocked(slot);
}

void ReenableNotifications(SocketHandle socket, uint32_t events) {
  TouchSlot(socket, [events](PollSlot* p) {
    if ((events & kFdRead) != 0) p->read_enabled = true;
    if ((events & kFdAccept) != 0) p->accept_enabled = true;
    if ((events & kFdWrite) != 0) p->write_enabled = true;
  });
}

void ConnectStarted(SocketHandle socket) {
  TouchSlot(socket, [](PollSlot* p) {
    if (p->connect_done) return;
    p->connect_pending = true;
    p->phase = Phase::kUnknown;
  });
}

void ListenStarted(SocketHandle socket) {
  TouchSlot(socket, [](PollSlot* p) { p->phase = Phase::kUnknown; });
}

void SocketClosing(SocketHandle socket) {
  TouchSlot(socket, [](PollSlot* p) { p->closed = true; });
}

}  // namespace pb::socket_events

namespace pb {

uint32_t DatagramsPerReadNotification() { return 64; }

}  // namespace pb
