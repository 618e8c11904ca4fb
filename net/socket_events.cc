// socket_events.cc: the shared socket event table and the notification handler of both backends.
#include "net/socket_events.h"

#include <mutex>

#include "net/socket_events_backend.h"

namespace pb {
namespace {
// How long a worker pauses after a failed wait before it waits again.
constexpr uint32_t kFailedWaitPauseMs = 50;
}  // namespace
namespace socket_events {
namespace {

// Zero-initialised: before the first open no slot is free, so every arming fails.
SocketEventTable g_table{};
std::mutex g_table_mutex;
// The backend's target (hidden window or poll thread token); null while closed.
void* g_target = nullptr;
// Until the first open the all-zero table has no free slot; a socket numbered 0 must not
// match those slots either, so every table operation fails until then.
bool g_ever_opened = false;
// Serialises open and close with each other; never taken by a table operation.
std::mutex g_lifecycle_mutex;

SocketEventSlot* FindSlotLocked(SocketHandle socket) {
  for (SocketEventSlot& slot : g_table.slots) {
    if (slot.socket == socket) return &slot;
  }
  return nullptr;
}

void FreeSlot(SocketEventSlot* slot) { *slot = SocketEventSlot{kInvalidSocket, nullptr, 0, 0, 0}; }

}  // namespace

std::mutex& TableMutex() { return g_table_mutex; }
SocketEventTable& Table() { return g_table; }
void* TargetLocked() { return g_target; }

bool EverOpenedLocked() { return g_ever_opened; }

void DeliverLocked(SocketHandle socket, uint32_t event_code, int32_t error) {
  if (!g_ever_opened) return;
  const uint32_t code = event_code & 0xFFFFu;
  for (SocketEventSlot& slot : g_table.slots) {
    if (slot.socket != kInvalidSocket && slot.socket == socket && (slot.mask & code) != 0) {
      slot.last_event = code;
      slot.last_error = error;
      // Set under the lock: the owner disarms (taking the lock) before it closes the event,
      // so the handle is still valid here.
      BackendSetEventLocked(slot.event);
      return;
    }
  }
}

}  // namespace socket_events

using socket_events::g_lifecycle_mutex;
using socket_events::g_table;
using socket_events::g_table_mutex;
using socket_events::g_target;

void OpenSocketEvents(void* window) {
  if (window == nullptr) return;
  std::lock_guard<std::mutex> lifecycle(g_lifecycle_mutex);
  {
    std::lock_guard<std::mutex> lock(g_table_mutex);
    if (g_target != nullptr) return;
    for (SocketEventSlot& slot : g_table.slots) socket_events::FreeSlot(&slot);
    socket_events::g_ever_opened = true;
    socket_events::BackendResetLocked();
  }
  void* target = socket_events::BackendOpen(window);
  std::lock_guard<std::mutex> lock(g_table_mutex);
  g_target = target;
}

void CloseSocketEvents() {
  std::lock_guard<std::mutex> lifecycle(g_lifecycle_mutex);
  void* target = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_table_mutex);
    target = g_target;
    g_target = nullptr;
  }
  if (target != nullptr) socket_events::BackendClose(target);
}

bool SocketEventsOpen() {
  std::lock_guard<std::mutex> lock(g_table_mutex);
  return g_target != nullptr;
}

int32_t SelectSocketEvent(SocketHandle socket, platform::Handle event, uint32_t mask) {
  if (socket == kInvalidSocket) return 0;
  std::lock_guard<std::mutex> lock(g_table_mutex);
  if (!socket_events::g_ever_opened) return 0;
  SocketEventSlot* slot = socket_events::FindSlotLocked(socket);
  bool new_slot = false;
  if (slot != nullptr) {
    if (mask != 0) {
      // Re-arming keeps the last code until the next notification.
      slot->event = event;
      slot->mask = mask;
    } else {
      socket_events::FreeSlot(slot);
    }
  } else {
    if (mask == 0) return 0;
    slot = socket_events::FindSlotLocked(kInvalidSocket);
    if (slot == nullptr) return 0;
    *slot = SocketEventSlot{socket, event, mask, 0, 0};
    new_slot = true;
  }
  const uint32_t index = static_cast<uint32_t>(slot - g_table.slots);
  socket_events::BackendSelectLocked(g_target, index, socket, mask, new_slot);
  return 1;
}

int32_t GetSocketEvent(SocketHandle socket, platform::Handle /*event*/, SocketEventRecord* record) {
  if (socket == kInvalidSocket) return 0;
  std::lock_guard<std::mutex> lock(g_table_mutex);
  if (!socket_events::g_ever_opened) return 0;
  const SocketEventSlot* slot = socket_events::FindSlotLocked(socket);
  if (slot == nullptr || record == nullptr) return 0;
  record->event = slot->last_event;
  return 1;
}

int32_t GetSocketEventError(SocketHandle socket) {
  if (socket == kInvalidSocket) return 0;
  std::lock_guard<std::mutex> lock(g_table_mutex);
  if (!socket_events::g_ever_opened) return 0;
  const SocketEventSlot* slot = socket_events::FindSlotLocked(socket);
  return slot == nullptr ? 0 : slot->last_error;
}

bool WaitForSocketNews(platform::Handle stop, platform::Handle event) {
  const platform::Handle waits[2] = {stop, event};
  uint32_t failures = 0;
  for (;;) {
    const uint32_t woke = WaitSocketEvents(2, waits, false, platform::kInfinite, false);
    if (woke == 0) return false;
    if (woke == 1) return true;
    if (AfterFailedWait(stop, &failures) != FailedWait::kRetry) return false;
  }
}

FailedWait AfterFailedWait(platform::Handle stop, uint32_t* failures) {
  if (stop != nullptr && platform::WaitForObjects(1, &stop, 0) == 0) return FailedWait::kStopped;
  if (++*failures >= kFailedWaitLimit) return FailedWait::kGiveUp;
  platform::SleepMs(kFailedWaitPauseMs);
  return FailedWait::kRetry;
}

uint32_t WaitSocketEvents(uint32_t count, const platform::Handle* handles, bool wait_all,
                          uint32_t timeout_ms, bool /*alertable*/) {
  if (wait_all) return platform::kWaitFailed;
  return platform::WaitForObjects(count, handles, timeout_ms);
}

void DeliverSocketNotification(SocketHandle socket, uint32_t event_code, int32_t error) {
  std::lock_guard<std::mutex> lock(g_table_mutex);
  socket_events::DeliverLocked(socket, event_code, error);
}

void SnapshotSocketEventTable(SocketEventTable* out) {
  if (out == nullptr) return;
  std::lock_guard<std::mutex> lock(g_table_mutex);
  *out = g_table;
}

}  // namespace pb
