// socket_events_rules_posix.cc: Winsock's posting rules on Linux, evaluated under the table lock
// by whichever thread polled the socket.
#include "net/socket_events_rules_posix.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <climits>

#include "net/socket.h"
#include "net/socket_events_backend.h"

namespace pb::socket_events {
namespace {

PollSlot g_poll[kSocketEventSlotCount];

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
        const bool hung_up = (revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        // Without an end of stream, a readable stream has data queued; only at the end does
        // the queue tell a last read from the close.
        int queued = 1;
        if (hung_up && ioctl(fd, FIONREAD, &queued) != 0) queued = 0;
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

}  // namespace

PollSlot* PollSlots() { return g_poll; }

int AsFd(SocketHandle socket) {
  return socket > static_cast<SocketHandle>(INT_MAX) ? -1 : static_cast<int>(socket);
}

void ResetSlot(PollSlot* p) {
  const uint32_t generation = p->generation + 1;
  *p = PollSlot{};
  p->generation = generation;
}

bool WatchLocked(uint32_t i, PollWatch* watch) {
  const SocketEventSlot& s = Table().slots[i];
  PollSlot& p = g_poll[i];
  if (s.socket == kInvalidSocket || s.mask == 0 || p.closed) return false;
  if (p.phase == Phase::kUnknown) Classify(AsFd(s.socket), s.mask, &p);
  const short events = WantedEvents(s, p);
  if (events == 0) return false;
  *watch = PollWatch{AsFd(s.socket), events, p.generation};
  return true;
}

void ApplyLocked(uint32_t i, const PollWatch& watch, short revents) {
  const SocketEventSlot& s = Table().slots[i];
  PollSlot& p = g_poll[i];
  if (revents == 0 || p.generation != watch.generation ||
      s.socket != static_cast<SocketHandle>(watch.fd)) {
    return;
  }
  if (!ProcessLocked(watch.fd, watch.events, revents, s, &p)) p.suspended = true;
  ++p.generation;
}

}  // namespace pb::socket_events
