// entry_reader.h: reading peers and groups from the plug-in with the size-then-fill protocol.
#ifndef PEERBEACON_HOST_ENTRY_READER_H_
#define PEERBEACON_HOST_ENTRY_READER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/plugin_api.h"
#include "host/records.h"

namespace pbhost {

// Holds the plug-in's entry-list lock while it lives. The plug-in's workers wait for this
// lock, so keep it only while reading.
class EntryListLock {
 public:
  explicit EntryListLock(const PluginApi& api);
  ~EntryListLock();
  EntryListLock(const EntryListLock&) = delete;
  EntryListLock& operator=(const EntryListLock&) = delete;
  bool locked() const { return locked_; }

 private:
  const PluginApi& api_;
  bool locked_ = false;
};

// A peer with the exact bytes the plug-in wrote; other calls (GetEntryInfo, the memo senders)
// take the raw record back.
struct ListedPeer {
  int32_t index = 0;
  std::vector<uint8_t> raw;
  PeerRecord record;
};

// The exports that each reader needs.
inline constexpr const char* kEntryReadExports[] = {"LockEntryList", "UnlockEntryList",
                                                    "GetEntryCount", "GetEntryData"};
inline constexpr const char* kGroupReadExports[] = {"LockEntryList", "UnlockEntryList",
                                                    "GetGroupCount", "GetGroupData"};

// Counts above this are taken as a fault of the plug-in rather than walked.
inline constexpr int32_t kMaxListCount = 100000;

// Fetch one record while the lock is held: asks for the size, fills a buffer of exactly that
// size and decodes it. Fails when the plug-in reports a bad index, changes its mind about the
// size, writes beyond the buffer or hands back a malformed record. The bytes as filled
// (peer->raw, or *raw when given) are kept also when only the decoding failed.
bool FetchPeer(const PluginApi& api, int32_t index, ListedPeer* peer, std::string* error);
bool FetchGroup(const PluginApi& api, int32_t index, GroupRecord* group, std::string* error,
                std::vector<uint8_t>* raw = nullptr);

// Every group of the combined group space, while the lock is held. Groups that cannot be read
// are kept as nameless entries at their index (so that later indexes stay right) and their
// faults are appended to *errors.
std::vector<GroupRecord> FetchGroups(const PluginApi& api, std::vector<std::string>* errors);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_ENTRY_READER_H_
