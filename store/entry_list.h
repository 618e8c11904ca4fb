// entry_list.h: EntryList, one node per peer keyed by IPv4 address, guarded by its own lock.
#ifndef PEERBEACON_STORE_ENTRY_LIST_H_
#define PEERBEACON_STORE_ENTRY_LIST_H_

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace pb {

// The peer list. Order: a new peer goes to the end, an update keeps its place, removal closes
// the gap. Access by index is constant time so that reading every entry is linear. The lock is
// a semaphore of count 1 (not re-entrant, releasable by any thread); no operation takes it by
// itself: callers bracket their work with Wait and Release.
class EntryList {
 public:
  // Null when the lock or the list cannot be made.
  static EntryList* Create();
  // Closes the lock and frees every node.
  static void Destroy(EntryList* list);

  int32_t Clear();
  // 1 when the lock was acquired within timeout_ms (platform::kInfinite: no limit), else 0.
  int32_t Wait(uint32_t timeout_ms);
  // Like Wait, but also ends (with 0) when stop_event is set first. stop_event may be null.
  int32_t WaitOrStop(platform::Handle stop_event);
  int32_t Release();
  platform::Handle lock() const;
  int32_t Count() const;

  // Stores a copy of the entry command (its size taken from its own size field, which the
  // caller has checked against the bytes it holds) and of the ids. 1 stored, 0 out of memory
  // (the list is unchanged). A command that fails ValidateEntryCommand (wire/entry_command.h)
  // over its own size is refused with 0 as well, so every stored command is safe to read.
  int32_t Upsert(const uint8_t address[16], const uint8_t* command, const int32_t* ids,
                 int32_t id_count);
  // 1 when the node with the address's IPv4 address was removed, else 0.
  int32_t Remove(const uint8_t address[16]);

  // Accessors by index; their results follow the size rules of the host interface.
  int32_t GetAddress(int32_t index, void* buffer, int32_t capacity) const;
  int32_t GetDisplayName(int32_t index, char* buffer, int32_t capacity,
                         const char* override_name) const;
  void GetGroupIds(int32_t index, int32_t* buffer, int32_t capacity) const;
  int32_t GetGroupIdCount(int32_t index) const;
  int32_t GetStatus(int32_t index) const;
  int32_t GetNickname(int32_t index, char* buffer, int32_t capacity) const;
  int32_t GetLogonUser(int32_t index, char* buffer, int32_t capacity) const;
  int32_t GetMachineName(int32_t index, char* buffer, int32_t capacity) const;
  int32_t GetAddressText(int32_t index, char* buffer, int32_t capacity) const;
  // Index of the first entry whose IPv4 address (network order) equals ipv4, or -1.
  int32_t FindByAddress(uint32_t ipv4) const;

  EntryList(const EntryList&) = delete;
  EntryList& operator=(const EntryList&) = delete;

 private:
  EntryList() = default;
  ~EntryList();
  struct Impl;
  Impl* impl_ = nullptr;
  platform::Handle lock_ = nullptr;
};

// The entry-list lock held for a scope: waits like WaitOrStop and, when it got the lock,
// releases it on every way out. owns() is false when the stop event or a failed wait ended
// the wait; nothing guarded may be touched then.
class EntryListLock {
 public:
  EntryListLock(EntryList& list, platform::Handle stop_event)
      : list_(&list), owns_(list.WaitOrStop(stop_event) != 0) {}
  ~EntryListLock() {
    if (owns_) list_->Release();
  }
  EntryListLock(const EntryListLock&) = delete;
  EntryListLock& operator=(const EntryListLock&) = delete;
  bool owns() const { return owns_; }

 private:
  EntryList* list_;
  bool owns_;
};

}  // namespace pb

#endif  // PEERBEACON_STORE_ENTRY_LIST_H_
