// socket_events_backend.h: the seam between the shared socket event table and its two backends.
#ifndef PEERBEACON_NET_SOCKET_EVENTS_BACKEND_H_
#define PEERBEACON_NET_SOCKET_EVENTS_BACKEND_H_

#include <cstdint>
#include <mutex>

#include "net/socket_events.h"

namespace pb::socket_events {

// The table lock. Every table operation holds it for its search and update only, never
// across a wait or a call into the host.
std::mutex& TableMutex();
// The table itself; touch it only while holding TableMutex().
SocketEventTable& Table();
// False until the first open, while the table is all zero. Needs the lock.
bool EverOpenedLocked();
// The notification handler of DeliverSocketNotification, for a caller that holds the lock.
void DeliverLocked(SocketHandle socket, uint32_t event_code, int32_t error);

// Implemented by each backend.
//
// Starts notifications for the host's window; the backend's target (the hidden window, the
// poll thread's token), or null when it cannot start. Called without the table lock.
void* BackendOpen(void* window);
// Ends notifications started by BackendOpen. Called without the table lock, after the
// shared state no longer names the target.
void BackendClose(void* target);
// Called with the table lock held when every slot has just been freed by an open.
void BackendResetLocked();
// Asks the platform for the socket's notifications (mask 0: none) after the shared table put
// it into slot (or freed slot, for mask 0). target is null while the dispatcher is closed;
// arming still makes the socket non-blocking then. Called with the table lock held.
void BackendSelectLocked(void* target, uint32_t slot, SocketHandle socket, uint32_t mask,
                         bool new_slot);
// Sets a slot's event for a notification. Called with the table lock held.
void BackendSetEventLocked(platform::Handle event);
// The current target, null while closed. Needs the table lock.
void* TargetLocked();

// Only the Linux backend defines these. Called by the Linux socket wrapper, so that the poll thread
// re-posts as Winsock does: after a receive (FD_READ), an accept (FD_ACCEPT) and a send that would
// block (FD_WRITE).
void ReenableNotifications(SocketHandle socket, uint32_t events);
// After a connect that started (or completed) a connection: the socket's FD_CONNECT follows.
void ConnectStarted(SocketHandle socket);
// After listen: the socket now takes connections.
void ListenStarted(SocketHandle socket);
// Before the socket is closed: it gets no more notifications until it is armed again.
void SocketClosing(SocketHandle socket);

}  // namespace pb::socket_events

#endif  // PEERBEACON_NET_SOCKET_EVENTS_BACKEND_H_
