// socket_events_posix.cc: the Linux notification source, one poll thread with Winsock's posting
// rules.
//
// Winsock posts a notification once and then holds that event back until the owner's
// "re-enabling" call: FD_READ until the next receive, FD_ACCEPT until the next accept, FD_WRITE
// until a send would block; FD_CONNECT and FD_CLOSE come once. Re-arming (WSAAsyncSelect)
// re-enables every event, so a condition that holds at that moment is posted again. The poll
// thread keeps that state per slot and polls a socket only for the events that may be posted
// now, so a socket that stays readable is not polled again until its owner receives.
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <new>
#include <system_error>
#include <thread>

#include "net/socket.h"
#include "net/socket_events_backend.h"

namespace pb::socket_events {
namespace {

enum class Phase : uint8_t {
  kUnknown,     // to be read from the socket before the next poll
  kIdle,        // a stream socket neither connected, connecting nor listening: nothing to post
  kConnecting,  // a connection attempt whose FD_CONNECT is still to come
  kConnected,   // a connected stream socket, or any datagram socket
  kListening,
  kEnded,  // the connection attempt failed: nothing more to post
};

// The posting state of one slot, beside the shared table and guarded by its lock.
struct PollSlot {
  uint32_t generation = 0;  // changes whenever the state changes outside the poll thread
  Phase phase = Phase::kUnknown;
  bool datagram = false;
  // Kept across re-arming: FD_CONNECT comes once per attempt, and a stream socket makes one
  // attempt. The poll thread may see the attempt (SYN_SENT) and even report it before the
  // wrapper's connect returns and says it started; connect_done keeps that late word from
  // asking for a second FD_CONNECT.
  bool connect_pending = false;
  bool connect_done = false;
  bool connect_failed = false;  // the attempt ended without a connection
  bool read_enabled = true;
  bool write_enabled = true;
  bool accept_enabled = true;
  bool close_enabled = true;
  bool peer_closed = false;  // end of stream seen with nothing left to read
  bool closed = false;       // the owner closed the socket
  // The last poll result for this socket changed nothing (an error or hang-up that no armed
  // event reports): it is left out until its owner or a re-arming changes something.
  bool suspended = false;
};

struct Runner {
  std::thread thread;
  int wake_fd = -1;
  bool stop = false;  // guarded by the table lock
};

PollSlot g_poll[kSocketEventSlotCount];

int AsFd(SocketHandle socket) {
  return socket > static_cast<SocketHandle>(INT_MAX) ? -1 : static_cast<int>(socket);
}

void WakeLocked(void* target) {
  auto* runner = static_cast<Runner*>(target);
  if (runner == nullptr) return;
  const uint64_t one = 1;
  // A full counter (never in practice) already means "wake".
  [[maybe_unused]] const ssize_t n = write(runner->wake_fd, &one, sizeof one);
}

void ResetSlot(PollSlot* p) {
  const uint32_t generation = p->generation + 1;
  *p = PollSlot{};
  p->generation = generation;
}

// For a stream socket in the closed state: true when it had a connection that ended (a reset
// shuts both directions, which poll reports as a read hang-up), false when it never had one.
bool StreamWasReset(int fd) {
  pollfd probe{fd, POLLRDHUP, 0};
  return poll(&probe, 1, 0) == 1 && (probe.revents & POLLRDHUP) != 0;
}

// Reads what kind of socket the slot holds and where its connection stands; mask is what its
// owner armed.
void Classify(int fd, uint32_t mask, PollSlot* p) {
  int type = 0;
  socklen_t len = sizeof type;
  if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0) {
    p->closed = true;
    return;
  }
  if (type != SOCK_STREAM) {
    p->datagram = true;
    p->phase = Phase::kConnected;
    return;
  }
  p->datagram = false;
  tcp_info info{};
  len = sizeof info;
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) {
    p->phase = Phase::kIdle;
    return;
  }
  switch (info.tcpi_state) {
    case TCP_LISTEN:
      p->phase = Phase::kListening;
      break;
    case TCP_SYN_SENT:
      p->connect_pending = true;
      p->phase = Phase::kConnecting;
      break;
    case TCP_CLOSE:
      // A failed attempt still owes its FD_CONNECT. A connection that was reset before this
      // arming still owes its FD_CLOSE: the connected phase finds the end of its stream. A
      // socket armed for FD_CONNECT whose attempt has not been seen yet is left alone: its
      // attempt may already have been refused, which is told by FD_CONNECT alone.
      if (p->connect_pending) {
        p->phase = Phase::kConnecting;
      } else if (p->connect_failed) {
        p->phase = Phase::kEnded;
      } else if (!p->connect_done && (mask & kFdConnect) != 0) {
        p->phase = Phase::kIdle;
      } else {
        p->phase = StreamWasReset(fd) ? Phase::kConnected : Phase::kIdle;
      }
      break;
    default:
      p->phase = p->connect_pending ? Phase::kConnecting : Phase::kConnected;
      break;
  }
}

// The poll events that may lead to a notification now; 0 leaves the socket out of the poll.
short WantedEvents(const SocketEventSlot& s, const PollSlot& p) {
  if (p.closed || p.suspended) return 0;
  const uint32_t mask = s.mask;
  short events = 0;
  switch (p.phase) {
    case Phase::kListening:
      if ((mask & kFdAccept) != 0 && p.accept_enabled) events = POLLIN;
      break;
    case Phase::kConnecting:
      // Watched whatever the mask: completion moves the socket on to kConnected.
      events = POLLOUT;
      break;
    case Phase::kConnected:
      if (p.datagram) {
        if ((mask & kFdRead) != 0 && p.read_enabled) events |= POLLIN;
      } else if (!p.peer_closed) {
        if ((mask & kFdRead) != 0 && p.read_enabled) events |= POLLIN;
        // With FD_READ armed, FD_CLOSE waits until the reader has taken the queued data;
        // its next receive re-enables the watch.
        const bool close_watch =
            (mask & kFdClose) != 0 && p.close_enabled && ((mask & kFdRead) == 0 || p.read_enabled);
        if (close_watch) events |= POLLRDHUP;
      }
      if ((mask & kFdWrite) != 0 && p.write_enabled) events |= POLLOUT;
      break;
    default:
      break;
  }
  return events;
}

int32_t PendingSocketError(int fd) {
  int error = 0;
  socklen_t len = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error == 0) return 0;
  return WinsockErrorFromErrno(error, false);
}

bool StreamIsConnected(int fd) {
  tcp_info info{};
  socklen_t len = sizeof info;
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return false;
  return info.tcpi_state != TCP_CLOSE && info.tcpi_state != TCP_SYN_SENT &&
         info.tcpi_state != TCP_LISTEN;
}

// Turns one poll result into notifications. True when anything changed.
bool ProcessLocked(int fd, short wanted, short revents, const SocketEventSlot& s, PollSlot* p) {
  if ((revents & POLLNVAL) != 0) {
    p->closed = true;
    return true;
  }
  const uint32_t mask = s.mask;
  const SocketHandle socket = s.socket;
  bool changed = false;
  switch (p->phase) {
    case Phase::kListening:
      if ((revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
        p->accept_enabled = false;
        DeliverLocked(socket, kFdAccept, 0);
        changed = true;
      }
      break;
    case Phase::kConnecting: {
      int32_t error = PendingSocketError(fd);
      if (error == 0 && !StreamIsConnected(fd)) error = kWsaENotConn;
      p->connect_pending = false;
      p->connect_done = true;
      p->connect_failed = error != 0;
      p->phase = error == 0 ? Phase::kConnected : Phase::kEnded;
      if ((mask & kFdConnect) != 0) DeliverLocked(socket, kFdConnect, error);
      changed = true;
      break;
    }
    case Phase::kConnected: {
      // Events that fall due together are posted in Winsock's order, FD_READ, FD_WRITE, then
      // FD_CLOSE: the slot keeps only the latest code, and the close must not be hidden.
      bool read_due = false;
      bool close_due = false;
      int32_t close_error = 0;
      if (p->datagram) {
        read_due = (revents & POLLIN) != 0 && (wanted & POLLIN) != 0;
      } else if ((wanted & (POLLIN | POLLRDHUP)) != 0 &&
                 (revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) != 0) {
        int queued = 0;
        if (ioctl(fd, FIONREAD, &queued) != 0) queued = 0;
        const bool hung_up = (revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        if (queued > 0 && (wanted & POLLIN) != 0) {
          read_due = true;
        } else if (queued == 0 || ((mask & kFdRead) == 0 && hung_up)) {
          // End of stream (or, with nobody to read, a close behind unread data).
          p->peer_closed = true;
          changed = true;
          if ((mask & kFdClose) != 0 && p->close_enabled) {
            p->close_enabled = false;
            close_due = true;
            close_error = (revents & POLLERR) != 0 ? PendingSocketError(fd) : 0;
          }
        }
      }
      if (read_due) {
        p->read_enabled = false;
        DeliverLocked(socket, kFdRead, 0);
        changed = true;
      }
      if ((revents & POLLOUT) != 0 && (wanted & POLLOUT) != 0) {
        p->write_enabled = false;
        DeliverLocked(socket, kFdWrite, 0);
        changed = true;
      }
      if (close_due) DeliverLocked(socket, kFdClose, close_error);
      break;
    }
    default:
      break;
  }
  return changed;
}

void PollLoop(Runner* runner) {
  pthread_setname_np(pthread_self(), "pb-sockpoll");
  pollfd fds[kSocketEventSlotCount + 1];
  uint32_t slot_of[kSocketEventSlotCount];
  uint32_t generation_of[kSocketEventSlotCount];
  for (;;) {
    nfds_t count = 0;
    {
      std::lock_guard<std::mutex> lock(TableMutex());
      if (runner->stop) return;
      SocketEventTable& table = Table();
      for (uint32_t i = 0; i < kSocketEventSlotCount; ++i) {
        const SocketEventSlot& s = table.slots[i];
        PollSlot& p = g_poll[i];
        if (s.socket == kInvalidSocket || s.mask == 0 || p.closed) continue;
        if (p.phase == Phase::kUnknown) Classify(AsFd(s.socket), s.mask, &p);
        const short events = WantedEvents(s, p);
        if (events == 0) continue;
        fds[count] = pollfd{AsFd(s.socket), events, 0};
        slot_of[count] = i;
        generation_of[count] = p.generation;
        ++count;
      }
    }
    fds[count] = pollfd{runner->wake_fd, POLLIN, 0};
    const int ready = poll(fds, count + 1, -1);
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
    SocketEventTable& table = Table();
    for (nfds_t k = 0; k < count; ++k) {
      if (fds[k].revents == 0) continue;
      const uint32_t i = slot_of[k];
      PollSlot& p = g_poll[i];
      // Anything that changed since the snapshot (a receive, a re-arming, another socket in
      // the slot) makes this result stale; the next round polls afresh.
      if (p.generation != generation_of[k] ||
          table.slots[i].socket != static_cast<SocketHandle>(fds[k].fd)) {
        continue;
      }
      if (!ProcessLocked(fds[k].fd, fds[k].events, fds[k].revents, table.slots[i], &p)) {
        p.suspended = true;
      }
    }
  }
}

// Applies change to the slot of socket, if it has one, and lets the poll thread look again.
template <typename Change>
void TouchSlot(SocketHandle socket, Change change) {
  if (socket == kInvalidSocket) return;
  std::lock_guard<std::mutex> lock(TableMutex());
  if (!EverOpenedLocked()) return;
  SocketEventTable& table = Table();
  for (uint32_t i = 0; i < kSocketEventSlotCount; ++i) {
    if (table.slots[i].socket != socket) continue;
    PollSlot& p = g_poll[i];
    change(&p);
    p.suspended = false;
    ++p.generation;
    WakeLocked(TargetLocked());
    return;
  }
}

}  // namespace

void* BackendOpen(void* /*window*/) {
  auto* runner = new (std::nothrow) Runner;
  if (runner == nullptr) return nullptr;
  runner->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (runner->wake_fd < 0) {
    delete runner;
    return nullptr;
  }
  try {
    runner->thread = std::thread(PollLoop, runner);
  } catch (const std::system_error&) {
    close(runner->wake_fd);
    delete runner;
    return nullptr;
  }
  return runner;
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
  delete runner;
}

void BackendResetLocked() {
  for (PollSlot& p : g_poll) ResetSlot(&p);
}

void BackendSelectLocked(void* target, uint32_t slot, SocketHandle socket, uint32_t mask,
                         bool new_slot) {
  PollSlot& p = g_poll[slot];
  if (mask == 0 || new_slot) {
    ResetSlot(&p);
  } else {
    // As WSAAsyncSelect: every event is enabled again; the connection attempt keeps its state.
    const bool connect_pending = p.connect_pending;
    const bool connect_done = p.connect_done;
    const bool connect_failed = p.connect_failed;
    ResetSlot(&p);
    p.connect_pending = connect_pending;
    p.connect_done = connect_done;
    p.connect_failed = connect_failed;
  }
  if (mask != 0) {
    const int fd = AsFd(socket);
    const int flags = fd < 0 ? -1 : fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  }
  WakeLocked(target);
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
