// group_table.h: GroupTable, the interned (name, parent) groups with ids equal to positions.
#ifndef PEERBEACON_STORE_GROUP_TABLE_H_
#define PEERBEACON_STORE_GROUP_TABLE_H_

#include <cstdint>

namespace pb {

// Groups named by peers ("Sales>East&Staff") or by the node-list file. Ids run 0, 1, 2, ...
// without gaps and are also the indexes of the accessors. No lock of its own: the entry-list
// lock guards the peer-group table. Never throws; out of memory gives the documented results.
class GroupTable {
 public:
  GroupTable();
  ~GroupTable();
  GroupTable(const GroupTable&) = delete;
  GroupTable& operator=(const GroupTable&) = delete;

  // The id of (name, parent), interning it when new; -1 when memory runs out (no id used up).
  // A parent outside 0..nextId-1 is stored as -1. Names compare case-sensitively.
  int32_t Intern(const char* name, int32_t parent);
  // Number of groups in a group string ('&' separates groups, "&&" and "&>" escape).
  static int32_t CountGroups(const char* text);
  // Interns every level of every group of text and writes the innermost ids, at most capacity.
  // Returns CountGroups(text).
  int32_t ParseGroups(const char* text, int32_t* ids, int32_t capacity);
  int32_t Count() const;
  // The name at index, or null for a bad index.
  const char* GetName(int32_t index) const;
  // The parent id at index, or -1 (also for a bad index).
  int32_t GetParent(int32_t index) const;
  int32_t Clear();

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace pb

#endif  // PEERBEACON_STORE_GROUP_TABLE_H_
