// socket_events_rules_posix.h: Winsock's posting rules on Linux: the per-slot posting state and
// the evaluation of one poll result, shared by the poll thread and waiting threads.
//
// Winsock posts a notification once and then holds that event back until the owner's
// "re-enabling" call: FD_READ until the next receive, FD_ACCEPT until the next accept, FD_WRITE
// until a send would block; FD_CONNECT and FD_CLOSE come once. Re-arming (WSAAsyncSelect)
// re-enables every event, so a condition that holds at that moment is posted again. The state
// is kept per slot, and a socket is polled only for the events that may be posted now, so a
// socket that stays readable is not polled again until its owner receives.
#ifndef PEERBEACON_NET_SOCKET_EVENTS_RULES_POSIX_H_
#define PEERBEACON_NET_SOCKET_EVENTS_RULES_POSIX_H_

#include <cstdint>

#include "net/socket_events.h"

namespace pb::socket_events {

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
  // Changes whenever the state changes: a poll result taken under an older generation is
  // stale, whoever polled.
  uint32_t generation = 0;
  Phase phase = Phase::kUnknown;
  bool datagram = false;
  // Kept across re-arming: FD_CONNECT comes once per attempt, and a stream socket makes one
  // attempt. A poller may see the attempt (SYN_SENT) and even report it before the
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
  // The slot changed while a thread was already polling for its event with what it had
  // prepared before: the poll thread watches it too until the last waiter has gone.
  bool poll_thread_too = false;
};

// The posting state of every slot, index for index with the table. Touch it only while
// holding TableMutex().
PollSlot* PollSlots();

// The socket as a descriptor; -1 when it cannot be one.
int AsFd(SocketHandle socket);

// A fresh state that a stale poll result cannot match.
void ResetSlot(PollSlot* p);

// What one poller watches of one slot: the descriptor, the poll events and the generation
// they were read under.
struct PollWatch {
  int fd;
  short events;
  uint32_t generation;
};

// The watch for slot i, reading the socket's kind first when it is not known yet; false when
// nothing can be posted for it now (the slot is free, closed, suspended or has nothing due).
// Needs the table lock.
bool WatchLocked(uint32_t i, PollWatch* watch);

// Turns what a poll of watch reported into the notifications of slot i, exactly once: a result
// taken before any change of the slot (a receive, a re-arming, another socket in the slot, a
// result applied by another poller) is dropped, and the next poll looks afresh. Needs the
// table lock.
void ApplyLocked(uint32_t i, const PollWatch& watch, short revents);

}  // namespace pb::socket_events

#endif  // PEERBEACON_NET_SOCKET_EVENTS_RULES_POSIX_H_
