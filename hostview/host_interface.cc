// host_interface.cc: entry and group records for the host, in the combined group space.
#include "hostview/host_interface.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/plugin_state.h"
#include "files/node_list.h"
#include "net/socket.h"
#include "platform/platform.h"
#include "store/entry_list.h"
#include "store/group_table.h"
#include "wire/byte_order.h"
#include "wire/records.h"

namespace pb {
namespace {

constexpr int32_t kNameOffset = kEntryFixedSize;  // the name stands right behind the fixed part
constexpr int32_t kLongestDottedText = 15;

int32_t PeerGroupCount(const HostTables& t) {
  return t.peer_groups != nullptr ? t.peer_groups->Count() : 0;
}

const GroupTable* NodeListGroups(const HostTables& t) {
  return t.node_groups != nullptr ? t.node_groups->get() : nullptr;
}

// The node-list group table lives from the host's LockEntryList to its UnlockEntryList, owned
// by the slot of the start it belongs to; the record's field shows what the slot holds.
void SetNodeListGroups(const HostTables& t, std::unique_ptr<GroupTable> table) {
  if (t.node_groups == nullptr) return;
  *t.node_groups = std::move(table);
  if (t.view != nullptr) *t.view = t.node_groups->get();
}

// The slots of the tables that the record alone describes.
std::unique_ptr<GroupTable>& RecordNodeListSlot() {
  static auto* slot = new std::unique_ptr<GroupTable>;
  return *slot;
}
std::shared_ptr<HostReadSession>& RecordSessionSlot() {
  static auto* slot = new std::shared_ptr<HostReadSession>;
  return *slot;
}

// What the node-list file says about one peer: its display name (empty: keep the nickname)
// and its node-list group numbers (a group's id in the node-list table, not yet shifted into
// the combined group space, which depends on the peer-group count of the moment).
struct NodeListPart {
  std::string name;
  std::vector<int32_t> ids;
};

}  // namespace

// What the host's reads keep between lock periods: the node-list file as the last lock saw
// it, and each peer's part of it by the peer's place in the list, with the key the part was
// read under. A lock that finds the file changed (or moved, or gone) starts over; a peer whose
// key differs from the kept one is read again. So a full read of an unchanged list costs one
// check of the file per lock and no file lookup per record, while every part still follows
// the file as it stood at the current lock.
struct HostReadSession {
  struct Kept {
    bool read = false;
    std::string key;
    NodeListPart part;
  };
  NodeListView file;
  // The node-list group table that file gives, as (name, parent id) in id order; read: kept.
  bool groups_read = false;
  std::vector<std::pair<std::string, int32_t>> groups;
  std::vector<Kept> peers;
  std::string asked;  // the key being read, kept to reuse its memory
};

namespace {

HostReadSession* Session(const HostTables& t) {
  return t.session != nullptr ? t.session->get() : nullptr;
}

// The peer's key text; false when it has none. Throws std::bad_alloc. The text is asked for
// straight into the string's room, so a key that fits takes one call.
bool ReadKey(const HostTables& t, int32_t index, std::string* key) {
  constexpr size_t kUsualRoom = 64;
  if (key->size() < kUsualRoom) key->resize(kUsualRoom);
  key->resize(key->capacity());
  int32_t room = static_cast<int32_t>(std::min<size_t>(key->size(), 0x7FFFFFFF));
  int32_t key_size = GetNodeListKey(*t.list, t.seed_type, index, key->data(), room);
  if (key_size <= 0) return false;
  if (key_size > room) {
    key->resize(static_cast<size_t>(key_size));
    room = key_size;
    key_size = GetNodeListKey(*t.list, t.seed_type, index, key->data(), room);
    if (key_size <= 0 || key_size > room) return false;
  }
  key->resize(strlen(key->c_str()));
  return true;
}

// Out of memory anywhere here leaves the part empty: the peer keeps its own name and groups.
void ParseNodeListPart(const std::string& value, const GroupTable* table, NodeListPart* part) {
  part->name.clear();
  part->ids.clear();
  try {
    const int32_t count = NodeListGroupsOf(value, nullptr, 0, 0, table);
    if (count > 0) {
      part->ids.resize(static_cast<size_t>(count));
      NodeListGroupsOf(value, part->ids.data(), count, 0, table);
    }
    const int32_t name_length = NodeListNameOf(value, nullptr, 0);
    if (name_length > 0) {
      try {
        part->name.assign(value, 0, static_cast<size_t>(name_length));
      } catch (...) {
        part->name.clear();  // the nickname stands in
      }
    }
  } catch (...) {
    part->name.clear();
    part->ids.clear();
  }
}

// The part of the peer at index: kept from an earlier read of the same file under the same
// key, else read from the session's view of the file (or, without a session, from the file).
// Never null; an empty part when the peer has no key or memory fails.
const NodeListPart* ReadNodeListPart(const HostTables& t, int32_t index, const GroupTable* table,
                                     NodeListPart* own) {
  HostReadSession* session = Session(t);
  try {
    if (session == nullptr) {
      std::string key;
      std::string value;
      if (ReadKey(t, index, &key) && ReadNodeListMachineValue(key.c_str(), &value)) {
        ParseNodeListPart(value, table, own);
      }
      return own;
    }
    if (!ReadKey(t, index, &session->asked)) return own;
    if (static_cast<size_t>(index) >= session->peers.size()) {
      session->peers.resize(static_cast<size_t>(index) + 1);
    }
    HostReadSession::Kept& kept = session->peers[static_cast<size_t>(index)];
    // The key is compared too: the part follows the peer's key, not its place.
    if (kept.read && kept.key == session->asked) return &kept.part;
    kept.read = false;
    std::string value;
    if (session->file.MachineValue(session->asked.c_str(), &value)) {
      ParseNodeListPart(value, table, &kept.part);
    } else {
      kept.part.name.clear();
      kept.part.ids.clear();
    }
    kept.key.swap(session->asked);
    kept.read = true;
    return &kept.part;
  } catch (...) {
    own->name.clear();
    own->ids.clear();
    return own;
  }
}

// Prepares the session for a new lock period: the file is located and checked once here, and
// what was kept from an earlier period stays only while the file is the same. Builds the
// node-list group table from the same view. Without memory for the session each record reads
// the file on its own.
void OpenSession(const HostTables& t, GroupTable* table) {
  std::shared_ptr<HostReadSession>* slot = t.session;
  try {
    NodeListView file = NodeListView::Open();
    if (slot != nullptr) {
      if (*slot == nullptr) *slot = std::make_shared<HostReadSession>();
      HostReadSession& session = **slot;
      if (!session.file.SameContents(file)) {
        session.peers.clear();
        session.groups.clear();
        session.groups_read = false;
      }
      session.file = file;
      if (session.peers.size() > static_cast<size_t>(t.list->Count())) {
        session.peers.resize(static_cast<size_t>(t.list->Count()));
      }
      if (session.groups_read) {
        // Interned again in id order into the empty table, each gets its id of before.
        for (const auto& [name, parent] : session.groups) table->Intern(name.c_str(), parent);
        return;
      }
      file.ReadGroups(table);
      for (int32_t i = 0; i < table->Count(); ++i) {
        session.groups.emplace_back(table->GetName(i), table->GetParent(i));
      }
      session.groups_read = true;
      return;
    }
    file.ReadGroups(table);
  } catch (...) {
    if (slot != nullptr) slot->reset();  // also drops a half-kept group list
    table->Clear();
    ReadNodeListGroups(table);
  }
}

void WriteIds(uint8_t* at, const int32_t* ids, int32_t count, int32_t offset) {
  for (int32_t i = 0; i < count; ++i) WriteLe32Signed(at + 4 * i, ids[i] + offset);
}

}  // namespace

int32_t BuildEntryRecord(uint8_t* record, size_t capacity, const uint8_t address[16],
                         const char* name, size_t name_field_size) {
  if (name_field_size < 1 || name_field_size > 0x7FFFFFFFu - kEntryFixedSize) return 0;
  const size_t size = kEntryFixedSize + name_field_size;
  if (record == nullptr || capacity < size) return static_cast<int32_t>(size);
  WriteEntryRecordHeader(record, static_cast<int32_t>(size), 1, 0, -1, address);
  size_t length = 0;
  while (name != nullptr && length < name_field_size - 1 && name[length] != '\0') ++length;
  if (length > 0) memcpy(record + kNameOffset, name, length);
  record[kNameOffset + length] = '\0';
  return static_cast<int32_t>(size);
}

int32_t BuildListedEntryRecord(const EntryList& list, int32_t index, uint8_t* record,
                               size_t capacity) {
  const int32_t bound = list.GetDisplayName(index, nullptr, 0, nullptr);
  if (bound < 0) return -1;
  const int32_t size = kEntryFixedSize + bound + 1;
  if (record == nullptr || capacity < static_cast<size_t>(size)) return size;
  uint8_t address[16] = {};
  list.GetAddress(index, address, 16);
  WriteEntryRecordHeader(record, size, 1, 0, -1, address);
  list.GetDisplayName(index, reinterpret_cast<char*>(record + kNameOffset), bound + 1, nullptr);
  return size;
}

// The host's hold on the list spans two calls, LockEntryList and UnlockEntryList, possibly on
// different threads (the lock is a semaphore), so no scope can own it: these two are the only
// places that take and give back the entry-list lock by hand.
HostTables RecordTables() {
  PluginState& s = g_stOrgData;
  if (s.initialized.load() == 0) return HostTables{};
  return HostTables{
      true,       s.entryList, s.peerGroups,        &RecordNodeListSlot(), &s.nodeListGroups,
      s.seedType, s.stopEvent, &RecordSessionSlot()};
}

int32_t HostLockEntryList(const HostTables& t) {
  if (!t.running || t.list == nullptr) return 0;
  // Without the lock nothing below may be touched: a failed or stopped wait ends here.
  if (t.list->WaitOrStop(t.stop) == 0) return 0;
  SetNodeListGroups(t, nullptr);
  if (t.node_groups != nullptr && t.seed_type >= 0 && t.seed_type <= 3) {
    std::unique_ptr<GroupTable> table(new (std::nothrow) GroupTable());
    if (table) {
      OpenSession(t, table.get());
      SetNodeListGroups(t, std::move(table));
    }
  }
  return 1;
}

int32_t HostUnlockEntryList(const HostTables& t) {
  if (!t.running) return 0;
  SetNodeListGroups(t, nullptr);
  if (t.list != nullptr) t.list->Release();
  return 1;
}

int32_t HostGetEntryCount(const HostTables& t) {
  if (!t.running || t.list == nullptr) return 0;
  return t.list->Count();
}

int32_t HostGetEntryData(const HostTables& t, int32_t index, void* record, int32_t size) {
  const EntryList* list = t.list;
  if (index < 0 || !t.running || list == nullptr || index >= list->Count()) return -1;

  NodeListPart own_part;
  const NodeListPart* part = &own_part;
  GroupTable* node_groups = t.node_groups != nullptr ? t.node_groups->get() : nullptr;
  if (node_groups != nullptr) part = ReadNodeListPart(t, index, node_groups, &own_part);
  const NodeListPart& node_list = *part;
  const char* override_name = node_list.name.empty() ? nullptr : node_list.name.c_str();

  const int32_t bound = list->GetDisplayName(index, nullptr, 0, override_name);
  if (bound < 0) return -1;
  const int32_t listed = list->GetGroupIdCount(index);
  const int32_t own = listed > 0 ? listed : 0;
  const int32_t extra = static_cast<int32_t>(node_list.ids.size());
  const int64_t total = static_cast<int64_t>(bound) + 45 + 4 * (static_cast<int64_t>(own) + extra);
  if (total > 0x7FFFFFFF) return -1;
  const int32_t record_size = static_cast<int32_t>(total);
  if (record == nullptr || size < record_size) return record_size;

  // The peer's own ids come out of the list in host order; they are staged and then written
  // little-endian, since the ids' place in the record is not aligned.
  int32_t* own_ids = nullptr;
  if (own > 0) {
    own_ids = new (std::nothrow) int32_t[static_cast<size_t>(own)];
    if (own_ids == nullptr) return -1;  // nothing written: better no record than a wrong one
    list->GetGroupIds(index, own_ids, own);
  }

  uint8_t* out = static_cast<uint8_t*>(record);
  const int32_t ids_offset = 45 + bound;
  const int32_t group_count = own + extra;
  uint8_t address[16] = {};
  list->GetAddress(index, address, 16);
  WriteEntryRecordHeader(out, record_size, list->GetStatus(index), group_count,
                         group_count > 0 ? ids_offset : -1, address);
  list->GetDisplayName(index, reinterpret_cast<char*>(out + kNameOffset), bound + 1, override_name);
  if (own > 0) WriteIds(out + ids_offset, own_ids, own, 0);
  if (extra > 0) {
    WriteIds(out + ids_offset + 4 * own, node_list.ids.data(), extra, PeerGroupCount(t));
  }
  delete[] own_ids;
  return record_size;
}

int32_t HostGetGroupCount(const HostTables& t) {
  if (!t.running) return 0;
  int32_t count = PeerGroupCount(t);
  if (NodeListGroups(t) != nullptr) count += NodeListGroups(t)->Count();
  return count;
}

int32_t HostGetGroupData(const HostTables& t, int32_t index, void* record, int32_t size) {
  if (index < 0 || !t.running) return -1;
  const int32_t peer_count = PeerGroupCount(t);
  const char* name = nullptr;
  int32_t parent = -1;
  if (index < peer_count) {
    name = t.peer_groups->GetName(index);
    parent = t.peer_groups->GetParent(index);
  } else {
    const GroupTable* node_groups = NodeListGroups(t);
    const int32_t k = index - peer_count;
    if (node_groups == nullptr || k >= node_groups->Count()) return -1;
    name = node_groups->GetName(k);
    const int32_t own_parent = node_groups->GetParent(k);
    parent = own_parent >= 0 ? own_parent + peer_count : -1;
  }
  if (name == nullptr) return -1;
  const size_t length = strlen(name);
  if (length > 0x7FFFFFFFu - 21) return -1;
  const int32_t record_size = static_cast<int32_t>(length) + 21;
  if (record == nullptr || size < record_size) return record_size;
  WriteGroupRecord(static_cast<uint8_t*>(record), parent, name, length);
  return record_size;
}

int32_t HostCompareEntryData(const void* a, int32_t a_size, const void* b, int32_t b_size) {
  if (a == nullptr || b == nullptr || a_size < kEntryFixedSize || b_size < kEntryFixedSize) {
    return 0;
  }
  const uint8_t* ra = static_cast<const uint8_t*>(a);
  const uint8_t* rb = static_cast<const uint8_t*>(b);
  // Only the fixed parts are read: the sizes are checked above.
  if (!IsEntryRecord({ra, static_cast<size_t>(kEntryFixedSize)}) ||
      !IsEntryRecord({rb, static_cast<size_t>(kEntryFixedSize)})) {
    return 0;
  }
  return memcmp(ra + kEntryIpv4Field, rb + kEntryIpv4Field, 4) == 0 ? 1 : 0;
}

int32_t HostGetEntryInfo(const HostTables& t, char* text, int32_t length, const void* record,
                         int32_t record_size) {
  // The size is checked first so that a short record is never read beyond its end.
  if (record == nullptr || record_size < kEntryFixedSize) return 0;
  const uint8_t* in = static_cast<const uint8_t*>(record);
  if (!IsEntryRecord({in, static_cast<size_t>(kEntryFixedSize)})) return 0;
  if (text == nullptr || length < kEntryInfoSize) return kEntryInfoSize;

  // A name that does not fit its buffer is not copied, and "Invalidate" stays.
  char user[257] = "Invalidate";
  char machine[16] = "Invalidate";
  const EntryList* list = t.list;
  if (t.running && list != nullptr) {
    uint32_t ipv4;
    memcpy(&ipv4, in + kEntryIpv4Field, 4);
    const int32_t index = list->FindByAddress(ipv4);
    if (index >= 0) {
      list->GetLogonUser(index, user, sizeof user);
      list->GetMachineName(index, machine, sizeof machine);
    }
  }

  // Room for the labels, the longest dotted address, both names and the terminator.
  char full[64 + kLongestDottedText + sizeof user + sizeof machine];
  const int n = snprintf(full, sizeof full, "IP Addr : %u.%u.%u.%u\r\nUSER : %s\r\nMachine : %s",
                         in[kEntryIpv4Field], in[kEntryIpv4Field + 1], in[kEntryIpv4Field + 2],
                         in[kEntryIpv4Field + 3], user, machine);
  if (n < 0) return 0;
  size_t written = static_cast<size_t>(n) < sizeof full ? static_cast<size_t>(n) : sizeof full - 1;
  if (written > static_cast<size_t>(length) - 1) written = static_cast<size_t>(length) - 1;
  memcpy(text, full, written);
  text[written] = '\0';
  return static_cast<int32_t>(written);
}

int32_t HostLockEntryList() { return HostLockEntryList(RecordTables()); }
int32_t HostUnlockEntryList() { return HostUnlockEntryList(RecordTables()); }
int32_t HostGetEntryCount() { return HostGetEntryCount(RecordTables()); }
int32_t HostGetEntryData(int32_t index, void* record, int32_t size) {
  return HostGetEntryData(RecordTables(), index, record, size);
}
int32_t HostGetGroupCount() { return HostGetGroupCount(RecordTables()); }
int32_t HostGetGroupData(int32_t index, void* record, int32_t size) {
  return HostGetGroupData(RecordTables(), index, record, size);
}
int32_t HostGetEntryInfo(char* text, int32_t length, const void* record, int32_t record_size) {
  return HostGetEntryInfo(RecordTables(), text, length, record, record_size);
}

int32_t MakeDirectInputRecord(const std::string& text, uint16_t port, PB_HGLOBAL* handle_out) {
  constexpr int32_t kMade = 1;
  constexpr int32_t kNotMade = 2;
  const uint32_t address = platform::ParseDottedAddress(text.c_str());
  if (address == 0xFFFFFFFFu) return kNotMade;

  const size_t name_field = strlen(text.c_str()) + 1;
  const size_t size = kEntryFixedSize + name_field;
  void* block = platform::GlobalAllocZeroed(size);
  *handle_out = block;
  if (block == nullptr) return kNotMade;
  auto* record = static_cast<uint8_t*>(platform::GlobalLockBlock(block));
  if (record == nullptr) return kNotMade;
  uint8_t socket_address[SocketAddress::kSize];
  SocketAddress::FromNetwork(address, port).Write(socket_address);
  BuildEntryRecord(record, size, socket_address, text.c_str(), name_field);
  platform::GlobalUnlockBlock(block);
  return kMade;
}

}  // namespace pb
