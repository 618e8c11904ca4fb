// node_list.h: the administrator's node-list file: its location, its group tree and its
// per-peer display names and groups.
#ifndef PEERBEACON_FILES_NODE_LIST_H_
#define PEERBEACON_FILES_NODE_LIST_H_

#include <cstdint>
#include <memory>
#include <string>

namespace pb {

class EntryList;
class GroupTable;
class ProfileSnapshot;

inline constexpr char kNodeListFileName[] = "NodeList.ini";
inline constexpr char kHostSideFileName[] = "Primus.ini";

// Fills path (platform::kMaxPath bytes) with the node-list file's full path and returns 1, or
// returns 0 and leaves the bare name "NodeList.ini" there. Looks, in order, at the
// NodeListPath that Primus.ini beside the host executable names under the logon user's
// section, the Windows directory, the system directory and the standard file search.
int32_t FindNodeListFile(char* path);
bool FindNodeListFile(std::string* path);
// How many times the file has been looked for since the process started.
uint64_t NodeListSearches();

// Interns the GROUP section's tree into the given empty table; parents come only from earlier
// lines. Returns 0 in every case; a null table or no file leaves nothing done.
int32_t ReadNodeListGroups(GroupTable* table);

// The MACHINE key of the entry at index, chosen by g_stOrgData.seedType. Returns the text's
// length + 1 and writes it when buffer is not null and max is at least that; -1 for a
// negative index, an index above the entry count or an uninitialised plug-in; 0 for an index
// with no entry.
int32_t GetNodeListKey(int32_t index, char* buffer, int32_t max);
// The same on list with seed_type in place of the record's; the caller holds the list lock.
int32_t GetNodeListKey(const EntryList& list, int32_t seed_type, int32_t index, char* buffer,
                       int32_t max);

// The display name of key's MACHINE value: its length (0 without a node list or value), the
// name copied when buffer is not null and max exceeds the length.
int32_t GetNodeListName(const char* key, char* buffer, int32_t max);

// The valid group numbers c of key's MACHINE value (c > 0 and table holds id c - 1): writes
// offset + c - 1 (offset <= 0 counts as 0) for each, while fewer than max are written, and
// returns how many are valid.
int32_t GetNodeListGroups(const char* key, int32_t* ids, int32_t max, int32_t offset,
                          const GroupTable* table);

// The two readers above share one located read of key's MACHINE value; a caller that needs
// both (the host's entry records) reads once and parses twice. False when there is no
// node-list file (value left empty). Throws std::bad_alloc when memory runs out.
bool ReadNodeListMachineValue(const char* key, std::string* value);
int32_t NodeListNameOf(const std::string& value, char* buffer, int32_t max);
int32_t NodeListGroupsOf(const std::string& value, int32_t* ids, int32_t max, int32_t offset,
                         const GroupTable* table);

// The node-list file as one read of the host sees it: located and read once, so that every
// record of that read comes from the same contents and no record costs a file search or a
// check of the file's identity. An edit of the file shows in the next view.
class NodeListView {
 public:
  // Locates the file and takes its contents. Throws std::bad_alloc when memory runs out.
  static NodeListView Open();
  NodeListView() = default;

  // Interns the GROUP section's tree into the given empty table, as ReadNodeListGroups does.
  void ReadGroups(GroupTable* table) const;
  // ReadNodeListMachineValue's answer for these contents. Throws std::bad_alloc.
  bool MachineValue(const char* key, std::string* value) const;
  // True when both views give the same answers: the same file, unchanged.
  bool SameContents(const NodeListView& other) const {
    return found_ == other.found_ && snapshot_ == other.snapshot_;
  }

 private:
  bool found_ = false;
  std::shared_ptr<const ProfileSnapshot> snapshot_;  // null: the file vanished once found
  std::string fallback_;                             // the DEFAULT value
};

}  // namespace pb

#endif  // PEERBEACON_FILES_NODE_LIST_H_
