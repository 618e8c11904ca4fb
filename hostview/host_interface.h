// host_interface.h: the host's view of the entry list and the group tables, and the builders
// of the entry data records that the host receives.
#ifndef PEERBEACON_HOSTVIEW_HOST_INTERFACE_H_
#define PEERBEACON_HOSTVIEW_HOST_INTERFACE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "peerbeacon.h"
#include "platform/platform.h"

namespace pb {

class EntryList;
class GroupTable;
struct HostReadSession;

// The functions behind the exports of the same names without the prefix. None of them throws.
// Groups are seen in one combined space: the peer-group table's groups first, then, while the
// host holds the lock and SeedType is 0 to 3, the node-list groups shifted by the peer count.

// What the host's reads work on: one running start's tables. node_groups owns the node-list
// group table, which LockEntryList builds and UnlockEntryList drops; view (the record's
// nodeListGroups) is kept showing it. A default HostTables is a stopped plug-in.
struct HostTables {
  bool running = false;
  EntryList* list = nullptr;
  GroupTable* peer_groups = nullptr;
  std::unique_ptr<GroupTable>* node_groups = nullptr;
  GroupTable** view = nullptr;
  int32_t seed_type = 0;
  platform::Handle stop = nullptr;
  // What the node-list reads keep between lock periods: LockEntryList checks the file once and
  // the records of its period are read from that view (and from what was kept of the same
  // file). A null slot pointer: each record reads the file itself.
  std::shared_ptr<HostReadSession>* session = nullptr;
};

// The tables that g_stOrgData shows (stopped while it is not initialised), with a node-list
// slot of their own, for callers that fill the record by hand. The overloads without tables
// work on these.
HostTables RecordTables();

// Waits for the entry-list lock (or for the stop event, which wins with 0 and leaves the lock
// untaken) and builds the node-list group table. 0 when the plug-in is not running.
int32_t HostLockEntryList(const HostTables& tables);
int32_t HostLockEntryList();
// Frees the node-list group table and releases the lock. 0 when not running, else 1.
int32_t HostUnlockEntryList(const HostTables& tables);
int32_t HostUnlockEntryList();
int32_t HostGetEntryCount(const HostTables& tables);
int32_t HostGetEntryCount();
// The record's size (written when record is not null and size is at least that), -1 for a
// bad index or a plug-in that is not running.
int32_t HostGetEntryData(const HostTables& tables, int32_t index, void* record, int32_t size);
int32_t HostGetEntryData(int32_t index, void* record, int32_t size);
int32_t HostGetGroupCount(const HostTables& tables);
int32_t HostGetGroupCount();
int32_t HostGetGroupData(const HostTables& tables, int32_t index, void* record, int32_t size);
int32_t HostGetGroupData(int32_t index, void* record, int32_t size);
// 1 when both records are entry records of at least 44 bytes with the same IPv4 address.
int32_t HostCompareEntryData(const void* a, int32_t a_size, const void* b, int32_t b_size);
// "IP Addr : a.b.c.d\r\nUSER : user\r\nMachine : machine" for the record's address: 0 for a
// record that is not an entry record, 304 (writing nothing) for a missing buffer or one
// shorter than 304, else the length written. The text is cut at the buffer's end and always
// NUL-terminated.
int32_t HostGetEntryInfo(const HostTables& tables, char* text, int32_t length, const void* record,
                         int32_t record_size);
int32_t HostGetEntryInfo(char* text, int32_t length, const void* record, int32_t record_size);

inline constexpr int32_t kEntryInfoSize = 304;

// Entry data records built outside the host's reads (the memo receiver's sender record, the
// direct-input record): status 1, no groups (groupIdsOffset -1), the name field at 44.
// Fields are written little-endian one by one.

// A record of 44 + name_field_size bytes whose name field holds name (cut to fit, always
// NUL-terminated; the bytes behind the terminator are not written). Returns the record's
// size; writes only when record is not null and capacity is at least that. 0 when
// name_field_size is below 1 or the size would not fit 32 bits.
int32_t BuildEntryRecord(uint8_t* record, size_t capacity, const uint8_t address[16],
                         const char* name, size_t name_field_size);

// The sender record of the entry at index: size 45 + L, L the display-name bound without an
// override, the display name "nickname (a.b.c.d)" and the entry's socket address. Returns the
// size (written when record is not null and capacity is at least that), -1 when no entry
// stands at index. The caller holds the entry-list lock.
int32_t BuildListedEntryRecord(const EntryList& list, int32_t index, uint8_t* record,
                               size_t capacity);

// The record InputEntry hands the host for text typed into the direct-input dialog: the
// typed address with port (network order, 0 before start-up), the text itself as the name.
// 1 with a new global block in *handle_out; 2 when the text is no dotted address (*handle_out
// untouched) or memory fails (*handle_out null).
int32_t MakeDirectInputRecord(const std::string& text, uint16_t port, PB_HGLOBAL* handle_out);

}  // namespace pb

#endif  // PEERBEACON_HOSTVIEW_HOST_INTERFACE_H_
