// profile_cache.cc: the identity-checked cache of parsed profile files.
#include "files/profile_cache.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace pb {
namespace {

// Enough for the host-side file and the node-list file with room for a few stale paths.
constexpr size_t kMaxCachedFiles = 8;

struct CacheEntry {
  std::string key;  // path and section names
  platform::FileIdentity identity;
  std::shared_ptr<const ProfileSnapshot> snapshot;
};

std::mutex g_mutex;
std::vector<CacheEntry>* g_cache = nullptr;  // never freed: threads may read at process exit
std::atomic<uint64_t> g_parses{0};

// A name that begins with ';' after its leading blanks. The Windows system's section listing
// leaves such lines out as comments while its single lookup still finds them as keys.
bool CommentLikeName(const char* key) {
  while (*key == ' ' || *key == '\t') ++key;
  return *key == ';';
}

std::string CacheKey(const std::string& path, std::initializer_list<const char*> sections) {
  std::string key = path;
  for (const char* s : sections) {
    key += '\n';
    key += s;
  }
  return key;
}

// The hash of the name's folding: blanks cut (every kind that any platform's lookup cuts) and
// ASCII letters lowered. False when the name holds a byte outside ASCII, whose case a platform
// may fold its own way.
bool FoldedHash(const char* name, size_t size, uint32_t* hash) {
  const char* begin = name;
  const char* end = name + size;
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
  };
  while (begin < end && blank(*begin)) ++begin;
  while (end > begin && blank(end[-1])) --end;
  uint32_t h = 2166136261u;  // FNV-1a
  for (const char* p = begin; p < end; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x80) return false;
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    h = (h ^ c) * 16777619u;
  }
  *hash = h;
  return true;
}

// Spreads the hash's bits over the slot number, since FNV's low bits alone cluster.
size_t HomeSlot(uint32_t hash, size_t mask) {
  return static_cast<size_t>((static_cast<uint64_t>(hash) * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

}  // namespace

ProfileSnapshot::KeyIndex ProfileSnapshot::BuildIndex(
    const std::vector<platform::ProfileEntry>& entries) {
  KeyIndex index;
  size_t size = 16;
  while (size < 2 * entries.size()) size *= 2;
  index.slots.resize(size);
  const size_t mask = size - 1;
  for (size_t i = 0; i < entries.size(); ++i) {
    const char* key = entries[i].key.c_str();
    uint32_t hash = 0;
    if (!FoldedHash(key, std::strlen(key), &hash)) {
      index.unfoldable.push_back(static_cast<uint32_t>(i));
      continue;
    }
    size_t at = HomeSlot(hash, mask);
    while (index.slots[at].entry != 0) at = (at + 1) & mask;
    index.slots[at] = {hash, static_cast<uint32_t>(i + 1)};
  }
  return index;
}

int64_t ProfileSnapshot::FindKey(size_t section, const char* key) const {
  const std::vector<platform::ProfileEntry>& entries = sections_[section];
  uint32_t hash = 0;
  if (!FoldedHash(key, std::strlen(key), &hash)) {
    for (size_t i = 0; i < entries.size(); ++i) {
      if (platform::ProfileKeyMatches(entries[i].key, key)) return static_cast<int64_t>(i);
    }
    return -1;
  }
  // The first match in file order among the keys of the same hash and the unfoldable keys.
  // The whole run of occupied slots is walked: the slots of one hash need not be in file order.
  int64_t first = -1;
  const KeyIndex& index = indexes_[section];
  if (!index.slots.empty()) {
    const size_t mask = index.slots.size() - 1;
    for (size_t at = HomeSlot(hash, mask); index.slots[at].entry != 0; at = (at + 1) & mask) {
      const KeyIndex::Slot& slot = index.slots[at];
      const int64_t i = static_cast<int64_t>(slot.entry) - 1;
      if (slot.hash == hash && (first < 0 || i < first) &&
          platform::ProfileKeyMatches(entries[static_cast<size_t>(i)].key, key)) {
        first = i;
      }
    }
  }
  for (const uint32_t i : index.unfoldable) {
    if (first >= 0 && i > first) break;
    if (platform::ProfileKeyMatches(entries[i].key, key)) {
      first = i;
      break;
    }
  }
  return first;
}

const std::vector<platform::ProfileEntry>* ProfileSnapshot::Section(const char* name) const {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (names_[i] == name) return &sections_[i];
  }
  return nullptr;
}

std::string ProfileSnapshot::GetString(const char* section, const char* key,
                                       const char* default_value, uint32_t size) const {
  if (size == 0) return std::string();
  if (key != nullptr && CommentLikeName(key)) {
    // Asked of the file itself: rare, and the listing cannot answer it on every platform.
    std::string direct(size, '\0');
    const uint32_t n =
        platform::GetProfileString(section, key, default_value, direct.data(), size, path_.c_str());
    direct.resize(n < size ? n : size - 1);
    return direct;
  }
  std::string value;
  bool found = false;
  for (size_t i = 0; section != nullptr && key != nullptr && i < names_.size(); ++i) {
    if (names_[i] != section) continue;
    const int64_t at = FindKey(i, key);
    if (at >= 0) {
      value = sections_[i][static_cast<size_t>(at)].value;
      found = true;
    }
    break;
  }
  if (!found) {
    value = default_value != nullptr ? default_value : "";
    while (!value.empty() && value.back() == ' ') value.pop_back();
  }
  if (value.size() > size - 1) value.resize(size - 1);
  return value;
}

int32_t ProfileSnapshot::GetInt(const char* section, const char* key, int32_t default_value) const {
  const std::string text = GetString(section, key, "", 30);
  if (text.empty()) return default_value;
  return platform::ParseProfileInteger(text.c_str());
}

std::shared_ptr<const ProfileSnapshot> LoadProfileSnapshot(
    const std::string& path, std::initializer_list<const char*> sections) {
  const std::string key = CacheKey(path, sections);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_cache == nullptr) g_cache = new std::vector<CacheEntry>();

  platform::FileIdentity before;
  if (!platform::GetFileIdentity(path, &before)) return nullptr;
  for (const CacheEntry& entry : *g_cache) {
    if (entry.key == key && entry.identity == before) return entry.snapshot;
  }

  auto snapshot = std::make_shared<ProfileSnapshot>();
  snapshot->path_ = path;
  for (const char* name : sections) {
    std::vector<platform::ProfileEntry> entries;
    // An unreadable file gives every lookup its default, as no entries do.
    platform::GetProfileSection(name, path.c_str(), &entries);
    snapshot->names_.emplace_back(name);
    snapshot->indexes_.push_back(ProfileSnapshot::BuildIndex(entries));
    snapshot->sections_.push_back(std::move(entries));
  }
  g_parses.fetch_add(1, std::memory_order_relaxed);

  // A file that changed while it was read is used once and parsed again next time.
  platform::FileIdentity after;
  if (!platform::GetFileIdentity(path, &after) || !(after == before)) return snapshot;

  for (CacheEntry& entry : *g_cache) {
    if (entry.key == key) {
      entry.identity = before;
      entry.snapshot = snapshot;
      return snapshot;
    }
  }
  if (g_cache->size() >= kMaxCachedFiles) g_cache->erase(g_cache->begin());
  g_cache->push_back(CacheEntry{key, before, snapshot});
  return snapshot;
}

uint64_t ProfileSnapshotParses() { return g_parses.load(std::memory_order_relaxed); }

}  // namespace pb
