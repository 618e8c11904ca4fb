// socket_events.h: the socket event dispatcher, which turns socket notifications into events.
#ifndef PEERBEACON_NET_SOCKET_EVENTS_H_
#define PEERBEACON_NET_SOCKET_EVENTS_H_

#include <cstdint>

#include "net/socket.h"
#include "platform/platform.h"

namespace pb {

// Network event bits with the values of Winsock's FD_READ, FD_WRITE, FD_ACCEPT, FD_CONNECT and
// FD_CLOSE (named apart from them because winsock.h defines those names as macros). Masks and
// event codes are made of these.
inline constexpr uint32_t kFdRead = 0x01;
inline constexpr uint32_t kFdWrite = 0x02;
inline constexpr uint32_t kFdAccept = 0x08;
inline constexpr uint32_t kFdConnect = 0x10;
inline constexpr uint32_t kFdClose = 0x20;

inline constexpr uint32_t kSocketEventSlotCount = 64;

// One armed socket. A free slot has socket kInvalidSocket; before the dispatcher is first
// opened every slot is all zero, which is neither free nor a real arming.
struct SocketEventSlot {
  SocketHandle socket;
  platform::Handle event;  // the caller's auto-reset event; the caller owns and closes it
  uint32_t mask;
  uint32_t last_event;  // the code of the latest notification that matched; 0 while none
  int32_t last_error;   // the Winsock error that came with it (0: none)
};

struct SocketEventTable {
  SocketEventSlot slots[kSocketEventSlotCount];
};

// What GetSocketEvent fills: the event word, then eight words the dispatcher never writes.
struct SocketEventRecord {
  uint32_t event;
  uint32_t reserved[8];
};
static_assert(sizeof(SocketEventRecord) == 36, "event word and eight reserved words");

// Opens the dispatcher on the host's window (on Linux any non-null token): frees every slot
// and starts the notification machinery (the hidden window; the poll thread). Does nothing
// when already open or when window is null. Call on the host's thread that runs the message
// loop.
void OpenSocketEvents(void* window);
// Ends notifications (destroys the hidden window; stops the poll thread). The table stays as
// it is: slots can still be claimed and freed, but nothing is posted until the next open.
void CloseSocketEvents();

// True while the dispatcher is open and notifications flow. While it is closed (or was never
// opened, as when the host gave no window) no socket is ever notified, armed or not.
bool SocketEventsOpen();

// From now on sets event whenever a network event of mask happens on socket; mask 0 frees the
// socket's slot. Arming makes the socket non-blocking. 1 when the socket was armed, re-armed
// or disarmed; 0 when mask is 0 and the socket has no slot, or every slot is taken.
int32_t SelectSocketEvent(SocketHandle socket, platform::Handle event, uint32_t mask);

// Writes the socket's last event code into record->event and returns 1; 0 (record untouched)
// when the socket has no slot. event is not used. Reading does not clear the code.
int32_t GetSocketEvent(SocketHandle socket, platform::Handle event, SocketEventRecord* record);

// The Winsock error that came with the socket's last notification (for FD_CONNECT, whether
// the connection attempt failed): 0 when there was none or the socket has no slot.
int32_t GetSocketEventError(SocketHandle socket);

// platform::WaitForObjects over count handles: the lowest set index, kWaitTimeout or
// kWaitFailed. The alertable flag is ignored; waiting for all handles is not supported and
// fails.
uint32_t WaitSocketEvents(uint32_t count, const platform::Handle* handles, bool wait_all,
                          uint32_t timeout_ms, bool alertable);

// A worker's wait without a time limit: true when the socket's event ended it, false when stop
// did (stop at index 0 wins) or the wait kept failing (see AfterFailedWait).
bool WaitForSocketNews(platform::Handle stop, platform::Handle event);

// What a waiting loop does after a failed wait. A wait fails when one of its handles is
// unusable (closed, or never opened), so it fails again every time: stop set meanwhile still
// wins (a failed wait cannot report it), a short run of failures gives up, and anything else
// is retried after a pause, never spun.
enum class FailedWait { kRetry, kStopped, kGiveUp };
inline constexpr uint32_t kFailedWaitLimit = 5;  // consecutive failed waits before giving up
// Call after each failed wait with the loop's count of consecutive failures (reset it after a
// wait that succeeds). Pauses before it answers kRetry.
FailedWait AfterFailedWait(platform::Handle stop, uint32_t* failures);

// How many queued datagrams a reader may take after one FD_READ before it waits again. On
// Linux the notifications are worked out when a thread waits, from what is queued then, so a
// reader may take all it finds. Windows keeps one receive per notification: under Wine, taking
// more lost the notification of a datagram that arrived meanwhile.
uint32_t DatagramsPerReadNotification();

// The notification handler shared by both platforms: the first slot whose socket is not free,
// equals socket and whose mask shares a bit with event_code takes the code (low 16 bits) and
// error, and its event is set. Notifications that match no slot are dropped.
void DeliverSocketNotification(SocketHandle socket, uint32_t event_code, int32_t error);

// A consistent copy of the table, for diagnostics and tests.
void SnapshotSocketEventTable(SocketEventTable* out);

}  // namespace pb

#endif  // PEERBEACON_NET_SOCKET_EVENTS_H_
