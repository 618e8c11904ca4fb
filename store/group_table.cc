// group_table.cc: GroupTable: interned (name, parent) groups, ids equal to positions,
// found through a hash on (name, parent) and read by index in constant time.
#include "store/group_table.h"

#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pb {
namespace {

// One group; the name is stored inline behind the header, in the same allocation.
struct GroupNode {
  int32_t id;
  int32_t parent;
  uint32_t length;
  char* name() { return reinterpret_cast<char*>(this + 1); }
  const char* name() const { return reinterpret_cast<const char*>(this + 1); }
};

GroupNode* NewGroupNode(std::string_view name, int32_t id, int32_t parent) {
  void* block = ::operator new(sizeof(GroupNode) + name.size() + 1, std::nothrow);
  if (block == nullptr) return nullptr;
  auto* node = new (block) GroupNode{id, parent, static_cast<uint32_t>(name.size())};
  if (!name.empty()) std::memcpy(node->name(), name.data(), name.size());
  node->name()[name.size()] = '\0';
  return node;
}

void DeleteGroupNode(GroupNode* node) { ::operator delete(node); }

// The key views the name stored in its node (or, for a lookup, the caller's text).
struct GroupKey {
  std::string_view name;
  int32_t parent;
  bool operator==(const GroupKey&) const = default;
};

struct GroupKeyHash {
  size_t operator()(const GroupKey& key) const {
    const size_t h = std::hash<std::string_view>()(key.name);
    return h ^ (static_cast<size_t>(static_cast<uint32_t>(key.parent)) * 0x9E3779B1u + (h << 6) +
                (h >> 2));
  }
};

}  // namespace

struct GroupTable::Impl {
  std::vector<GroupNode*> nodes;  // position == id
  std::unordered_map<GroupKey, int32_t, GroupKeyHash> index;

  ~Impl() { Clear(); }

  void Clear() {
    index.clear();
    for (GroupNode* node : nodes) DeleteGroupNode(node);
    nodes.clear();
  }

  int32_t Intern(std::string_view name, int32_t parent) {
    const int32_t next_id = static_cast<int32_t>(nodes.size());
    // The parent is normalised before the lookup, so (name, -1) is never stored twice even when
    // a caller passes an id outside the table.
    if (parent < 0 || parent >= next_id) parent = -1;
    const auto found = index.find(GroupKey{name, parent});
    if (found != index.end()) return found->second;
    if (name.size() > 0x7FFFFFF0u || next_id == INT32_MAX) return -1;

    // Every step that can fail comes before the table changes, so a failure uses up no id.
    try {
      if (nodes.size() == nodes.capacity()) {
        nodes.reserve(nodes.capacity() < 16 ? 16 : nodes.capacity() * 2);
      }
    } catch (const std::bad_alloc&) {
      return -1;
    } catch (const std::length_error&) {
      return -1;
    }
    GroupNode* node = NewGroupNode(name, next_id, parent);
    if (node == nullptr) return -1;
    try {
      index.emplace(GroupKey{std::string_view(node->name(), node->length), parent}, next_id);
    } catch (const std::bad_alloc&) {
      DeleteGroupNode(node);
      return -1;
    }
    nodes.push_back(node);  // capacity reserved above: cannot throw
    return next_id;
  }
};

GroupTable::GroupTable() : impl_(new (std::nothrow) Impl) {}

GroupTable::~GroupTable() { delete impl_; }

int32_t GroupTable::Intern(const char* name, int32_t parent) {
  if (impl_ == nullptr) return -1;
  return impl_->Intern(name == nullptr ? std::string_view() : std::string_view(name), parent);
}

int32_t GroupTable::CountGroups(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  int32_t separators = 0;
  const char* p = text;
  while (*p != '\0') {
    if (*p == '&') {
      if (p[1] == '&' || p[1] == '>') {
        p += 2;  // an escaped character, not a separator
        continue;
      }
      if (p[1] != '\0') ++separators;  // a trailing '&' opens no further group
    }
    ++p;
  }
  return separators + 1;
}

int32_t GroupTable::ParseGroups(const char* text, int32_t* ids, int32_t capacity) {
  if (text == nullptr) return 0;
  const int32_t n = CountGroups(text);
  if (n <= 0) return n;

  const size_t length = std::strlen(text);
  char* token = new (std::nothrow) char[length + 1];
  if (token == nullptr) return n;

  int32_t parent = -1;
  size_t token_length = 0;
  int32_t written = 0;
  // Ends the current token: interns it under parent and starts an empty one.
  const auto end_token = [&]() {
    const std::string_view name(token, token_length);
    token_length = 0;
    return impl_ == nullptr ? -1 : impl_->Intern(name, parent);
  };
  const auto store = [&](int32_t id) {
    if (ids != nullptr && written < capacity) ids[written++] = id;
  };
  // Position by position, the terminating NUL included as the last one.
  for (size_t i = 0; i <= length; ++i) {
    const char c = text[i];
    if (c == '&' && (text[i + 1] == '&' || text[i + 1] == '>')) {
      token[token_length++] = text[i + 1];  // escaped: part of the name
      ++i;
    } else if (c == '>') {
      parent = end_token();  // a failed Intern's -1 makes the next level top-level
    } else if (c == '&') {
      store(end_token());
      parent = -1;
    } else if (c == '\0') {
      store(end_token());
    } else {
      token[token_length++] = c;
    }
  }
  delete[] token;
  return n;
}

int32_t GroupTable::Count() const {
  return impl_ == nullptr ? 0 : static_cast<int32_t>(impl_->nodes.size());
}

const char* GroupTable::GetName(int32_t index) const {
  if (impl_ == nullptr || index < 0 || index >= Count()) return nullptr;
  return impl_->nodes[static_cast<size_t>(index)]->name();
}

int32_t GroupTable::GetParent(int32_t index) const {
  if (impl_ == nullptr || index < 0 || index >= Count()) return -1;
  return impl_->nodes[static_cast<size_t>(index)]->parent;
}

int32_t GroupTable::Clear() {
  if (impl_ != nullptr) impl_->Clear();
  return 1;
}

}  // namespace pb
