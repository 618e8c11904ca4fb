// profile_cache.h: profile (INI) files parsed once and reused while the file stays unchanged.
#ifndef PEERBEACON_FILES_PROFILE_CACHE_H_
#define PEERBEACON_FILES_PROFILE_CACHE_H_

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace pb {

// Some sections of one profile file as they stood when it was read. Its lookups give exactly
// what the platform's profile functions would give for that file.
class ProfileSnapshot {
 public:
  // The entries of a section that was asked for when the snapshot was taken; null otherwise.
  const std::vector<platform::ProfileEntry>* Section(const char* name) const;
  // platform::GetProfileString's result for (section, key) as a string: the first matching
  // key's value, or default_value without its trailing blanks, cut to size - 1 characters.
  std::string GetString(const char* section, const char* key, const char* default_value,
                        uint32_t size) const;
  // platform::GetProfileInt's result on the Linux build's rules: the leading decimal number
  // with an optional sign, default_value when the key is missing or its value empty.
  int32_t GetInt(const char* section, const char* key, int32_t default_value) const;

 private:
  friend std::shared_ptr<const ProfileSnapshot> LoadProfileSnapshot(
      const std::string&, std::initializer_list<const char*>);
  // Where a section's keys stand, so that a lookup in a long section (a node list naming
  // thousands of machines) does not compare the key with every line. Keys are placed by the
  // hash of a folding (blanks cut, ASCII letters lowered) under which names that match by the
  // lookups' rule always fall together; keys with other bytes, which a platform may fold
  // otherwise, are kept apart and always compared. The lookup rule itself still decides every
  // match. The table is flat (open addressing, at most half full) so that a lookup touches
  // one slot run and the entry it finds, not a chain of separately allocated nodes.
  struct KeyIndex {
    struct Slot {
      uint32_t hash = 0;
      uint32_t entry = 0;  // the entry's position + 1; 0 for an empty slot
    };
    std::vector<Slot> slots;  // a power of two in size, or empty
    std::vector<uint32_t> unfoldable;
  };
  static KeyIndex BuildIndex(const std::vector<platform::ProfileEntry>& entries);
  // Index of the first entry whose key matches, or -1.
  int64_t FindKey(size_t section, const char* key) const;

  std::string path_;
  std::vector<std::string> names_;
  std::vector<std::vector<platform::ProfileEntry>> sections_;
  std::vector<KeyIndex> indexes_;
};

// The listed sections of the file at path. Served from a small process-wide cache while the
// file's identity (size, modification time, file index, volume) is what it was when parsed,
// so an edit shows at the next call. Null when the file does not exist. Thread-safe. Throws
// std::bad_alloc when memory runs out.
std::shared_ptr<const ProfileSnapshot> LoadProfileSnapshot(
    const std::string& path, std::initializer_list<const char*> sections);

// How many times a file has been parsed (cache misses) since the process started.
uint64_t ProfileSnapshotParses();

}  // namespace pb

#endif  // PEERBEACON_FILES_PROFILE_CACHE_H_
