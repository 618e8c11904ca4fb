// entry_list.cc: EntryList: peers in arrival order with constant-time access by index
// and a hash from IPv4 address to node for Upsert, Remove and FindByAddress.
#include "store/entry_list.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "wire/entry_command.h"

namespace pb {
namespace {

constexpr int32_t kAddressSize = 16;
// " (" + 4 bytes of up to 3 digits + 3 dots + ")": the longest text the format adds to a name.
constexpr int32_t kDisplayNameExtra = 18;
// "255.255.255.255" is 15 characters; the buffer must be longer than 16.
constexpr int32_t kAddressTextNeeded = 16;

// The 32-bit IPv4 address inside a socket address (bytes 4 to 7), kept in network order.
uint32_t Ipv4Of(const uint8_t address[16]) {
  uint32_t ipv4;
  std::memcpy(&ipv4, address + 4, sizeof ipv4);
  return ipv4;
}

// Writes "a.b.c.d" from the four network-order bytes at p with its NUL; returns its length.
int32_t FormatDotted(const uint8_t* p, char* out) {
  char* o = out;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) *o++ = '.';
    unsigned v = p[i];
    if (v >= 100) {
      *o++ = static_cast<char>('0' + v / 100);
      v %= 100;
      *o++ = static_cast<char>('0' + v / 10);
      v %= 10;
    } else if (v >= 10) {
      *o++ = static_cast<char>('0' + v / 10);
      v %= 10;
    }
    *o++ = static_cast<char>('0' + v);
  }
  *o = '\0';
  return static_cast<int32_t>(o - out);
}

int32_t ClampLength(size_t length) {
  return length > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(length);
}

// The string rule of GetNickname, GetLogonUser and GetMachineName.
int32_t CopyString(const char* text, int32_t length, char* buffer, int32_t capacity) {
  if (buffer == nullptr || length >= capacity) return length;
  std::memcpy(buffer, text, static_cast<size_t>(length) + 1);
  return length;
}

// One peer: this header, then its group ids, then the entry command copied byte for byte and a
// spare NUL, all in one allocation. The string fields are taken from the stored command once,
// when it is stored.
struct EntryNode {
  uint8_t address[16];
  uint32_t ipv4;  // network order, as in address[4..7]
  int32_t index;  // current position in the list
  int32_t group_count;
  uint32_t command_size;
  int32_t status;  // 1 present, 2 absent
  const int32_t* group_ids;
  const uint8_t* command;
  const char* nickname;
  const char* logon_user;
  const char* machine_name;
  int32_t nickname_length;
  int32_t logon_user_length;
  int32_t machine_name_length;
};

EntryNode* NewEntryNode(const uint8_t address[16], const uint8_t* command, uint32_t command_size,
                        const int32_t* ids, int32_t id_count) {
  const size_t ids_bytes = id_count > 0 ? sizeof(int32_t) * static_cast<size_t>(id_count) : 0;
  if (static_cast<uint64_t>(command_size) + ids_bytes + sizeof(EntryNode) + 1 > SIZE_MAX) {
    return nullptr;
  }
  void* block = ::operator new(sizeof(EntryNode) + ids_bytes + command_size + 1, std::nothrow);
  if (block == nullptr) return nullptr;
  auto* node = new (block) EntryNode{};
  uint8_t* bytes = static_cast<uint8_t*>(block);
  std::memcpy(node->address, address, kAddressSize);
  node->ipv4 = Ipv4Of(address);
  node->index = -1;
  node->group_count = id_count > 0 ? id_count : 0;
  int32_t* stored_ids = reinterpret_cast<int32_t*>(bytes + sizeof(EntryNode));
  if (ids_bytes > 0) std::memcpy(stored_ids, ids, ids_bytes);
  node->group_ids = ids_bytes > 0 ? stored_ids : nullptr;
  uint8_t* stored = bytes + sizeof(EntryNode) + ids_bytes;
  std::memcpy(stored, command, command_size);
  stored[command_size] = 0;  // the spare byte
  node->command = stored;
  node->command_size = command_size;
  node->status = EntryCommandArgument(stored) != 0 ? 2 : 1;
  node->nickname = EntryCommandNickname(stored);
  node->logon_user = EntryCommandLogonUser(stored);
  node->machine_name = EntryCommandComputerName(stored);
  node->nickname_length = ClampLength(std::strlen(node->nickname));
  node->logon_user_length = ClampLength(std::strlen(node->logon_user));
  node->machine_name_length = ClampLength(std::strlen(node->machine_name));
  return node;
}

void DeleteEntryNode(EntryNode* node) { ::operator delete(node); }

}  // namespace

struct EntryList::Impl {
  std::vector<EntryNode*> nodes;                     // position order
  std::unordered_map<uint32_t, EntryNode*> by_ipv4;  // one node per IPv4 address

  ~Impl() { Clear(); }

  void Clear() {
    by_ipv4.clear();
    for (EntryNode* node : nodes) DeleteEntryNode(node);
    nodes.clear();
  }

  const EntryNode* At(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= nodes.size()) return nullptr;
    return nodes[static_cast<size_t>(index)];
  }
};

EntryList* EntryList::Create() {
  auto* list = new (std::nothrow) EntryList;
  if (list == nullptr) return nullptr;
  list->impl_ = new (std::nothrow) Impl;
  list->lock_ = platform::CreateListSemaphore();
  if (list->impl_ == nullptr || list->lock_ == nullptr) {
    delete list;
    return nullptr;
  }
  return list;
}

void EntryList::Destroy(EntryList* list) { delete list; }

EntryList::~EntryList() {
  if (lock_ != nullptr) platform::CloseHandleObject(lock_);
  lock_ = nullptr;
  delete impl_;  // frees every node
}

int32_t EntryList::Clear() {
  impl_->Clear();
  return 1;
}

int32_t EntryList::Wait(uint32_t timeout_ms) {
  return platform::WaitForObjects(1, &lock_, timeout_ms) == 0 ? 1 : 0;
}

int32_t EntryList::WaitOrStop(platform::Handle stop_event) {
  if (stop_event == nullptr) return Wait(platform::kInfinite);
  // The stop event at index 0: when both are set the stop wins and the lock is not taken.
  const platform::Handle handles[2] = {stop_event, lock_};
  return platform::WaitForObjects(2, handles, platform::kInfinite) == 1 ? 1 : 0;
}

int32_t EntryList::Release() {
  platform::ReleaseListSemaphore(lock_);
  return 1;
}

platform::Handle EntryList::lock() const { return lock_; }

int32_t EntryList::Count() const { return static_cast<int32_t>(impl_->nodes.size()); }

int32_t EntryList::Upsert(const uint8_t address[16], const uint8_t* command, const int32_t* ids,
                          int32_t id_count) {
  if (address == nullptr || command == nullptr) return 0;
  if (id_count > 0 && ids == nullptr) return 0;
  // The accessors read the stored command's strings through its offsets; only a command that
  // passes the receiver's gate is stored, so they never read outside it.
  const uint32_t size = EntryCommandSize(command);
  if (!ValidateEntryCommand(command, size)) return 0;

  const uint32_t ipv4 = Ipv4Of(address);
  const auto found = impl_->by_ipv4.find(ipv4);
  const bool is_new = found == impl_->by_ipv4.end();
  std::vector<EntryNode*>& nodes = impl_->nodes;
  // Everything that can fail happens before the list changes.
  if (is_new) {
    if (nodes.size() >= static_cast<size_t>(INT32_MAX)) return 0;
    try {
      if (nodes.size() == nodes.capacity()) {
        nodes.reserve(nodes.capacity() < 16 ? 16 : nodes.capacity() * 2);
      }
    } catch (const std::bad_alloc&) {
      return 0;
    } catch (const std::length_error&) {
      return 0;
    }
  }
  EntryNode* node = NewEntryNode(address, command, size, ids, id_count);
  if (node == nullptr) return 0;

  if (!is_new) {
    EntryNode* old = found->second;
    node->index = old->index;
    nodes[static_cast<size_t>(old->index)] = node;
    found->second = node;
    DeleteEntryNode(old);
    return 1;
  }
  try {
    impl_->by_ipv4.emplace(ipv4, node);
  } catch (const std::bad_alloc&) {
    DeleteEntryNode(node);
    return 0;
  }
  node->index = static_cast<int32_t>(nodes.size());
  nodes.push_back(node);  // capacity reserved above: cannot throw
  return 1;
}

int32_t EntryList::Remove(const uint8_t address[16]) {
  if (address == nullptr || impl_->nodes.empty()) return 0;
  const auto found = impl_->by_ipv4.find(Ipv4Of(address));
  if (found == impl_->by_ipv4.end()) return 0;
  EntryNode* node = found->second;
  impl_->by_ipv4.erase(found);
  std::vector<EntryNode*>& nodes = impl_->nodes;
  const size_t at = static_cast<size_t>(node->index);
  nodes.erase(nodes.begin() + static_cast<std::ptrdiff_t>(at));  // pointers: cannot throw
  for (size_t i = at; i < nodes.size(); ++i) nodes[i]->index = static_cast<int32_t>(i);
  DeleteEntryNode(node);
  return 1;
}

int32_t EntryList::GetAddress(int32_t index, void* buffer, int32_t capacity) const {
  const EntryNode* node = impl_->At(index);
  if (node == nullptr) return 0;
  if (buffer == nullptr || capacity <= 0) return kAddressSize;
  const int32_t n = capacity < kAddressSize ? capacity : kAddressSize;
  std::memcpy(buffer, node->address, static_cast<size_t>(n));
  return n;
}

int32_t EntryList::GetDisplayName(int32_t index, char* buffer, int32_t capacity,
                                  const char* override_name) const {
  const EntryNode* node = impl_->At(index);
  if (node == nullptr) return -1;
  const char* name = node->nickname;
  int32_t length = node->nickname_length;
  if (override_name != nullptr) {
    name = override_name;
    length = ClampLength(std::strlen(override_name));
  }
  const int32_t needed =
      length > INT32_MAX - kDisplayNameExtra ? INT32_MAX : length + kDisplayNameExtra;
  if (buffer == nullptr || needed >= capacity) return needed;
  // needed < capacity: the name, " (", at most 15 address characters, ")" and the NUL fit.
  char* o = buffer;
  std::memcpy(o, name, static_cast<size_t>(length));
  o += length;
  *o++ = ' ';
  *o++ = '(';
  o += FormatDotted(node->address + 4, o);
  *o++ = ')';
  *o = '\0';
  return static_cast<int32_t>(o - buffer);
}

void EntryList::GetGroupIds(int32_t index, int32_t* buffer, int32_t capacity) const {
  const EntryNode* node = impl_->At(index);
  if (node == nullptr || buffer == nullptr) return;
  const int32_t n = node->group_count < capacity ? node->group_count : capacity;
  if (n > 0) std::memcpy(buffer, node->group_ids, sizeof(int32_t) * static_cast<size_t>(n));
}

int32_t EntryList::GetGroupIdCount(int32_t index) const {
  const EntryNode* node = impl_->At(index);
  return node == nullptr ? 0 : node->group_count;
}

int32_t EntryList::GetStatus(int32_t index) const {
  const EntryNode* node = impl_->At(index);
  return node == nullptr ? 0 : node->status;
}

int32_t EntryList::GetNickname(int32_t index, char* buffer, int32_t capacity) const {
  const EntryNode* node = impl_->At(index);
  if (node == nullptr) return -1;
  return CopyString(node->nickname, node->nickname_length, buffer, capacity);
}

int32_t EntryList::GetLogonUser(int32_t index, char* buffer, int32_t capacity) const {
  const EntryNode* node = impl_->At(index);
  if (node == nullptr) return -1;
  return CopyString(node->logon_user, node->logon_user_length, buffer, capacity);
}

int32_t EntryList::GetMachineName(int32_t index, char* buffer, int32_t capacity) const {
  const EntryNode* node = impl_->At(index);
  if (node == nullptr) return -1;
  return CopyString(node->machine_name, node->machine_name_length, buffer, capacity);
}

int32_t EntryList::GetAddressText(int32_t index, char* buffer, int32_t capacity) const {
  const EntryNode* node = impl_->At(index);
  if (node == nullptr) return -1;
  if (buffer == nullptr || capacity <= kAddressTextNeeded) return kAddressTextNeeded;
  return FormatDotted(node->address + 4, buffer);
}

int32_t EntryList::FindByAddress(uint32_t ipv4) const {
  const auto found = impl_->by_ipv4.find(ipv4);
  return found == impl_->by_ipv4.end() ? -1 : found->second->index;
}

}  // namespace pb
