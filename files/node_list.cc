// node_list.cc: locating "NodeList.ini" and reading its GROUP and MACHINE sections.
#include "files/node_list.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <string_view>
#include <vector>

#include "core/plugin_state.h"
#include "core/settings.h"
#include "files/profile_cache.h"
#include "platform/platform.h"
#include "store/entry_list.h"
#include "store/group_table.h"

namespace pb {
namespace {

constexpr char kGroupSection[] = "GROUP";
constexpr char kMachineSection[] = "MACHINE";
constexpr uint32_t kGroupValueSize = 256;     // 255 characters and the terminator
constexpr uint32_t kMachineValueSize = 1024;  // 1023 characters and the terminator

// The executable's path and the logon user name do not change while the process runs; asking
// the system for them at every read would cost a lookup of the user database per peer. Only
// answers that were had are kept, so a passing failure is asked about again next time.
std::mutex g_facts_mutex;
std::string* g_primus_path = nullptr;  // kept for the process's life
std::string* g_user_section = nullptr;
std::atomic<uint64_t> g_searches{0};

std::string PrimusPath() {
  std::lock_guard<std::mutex> lock(g_facts_mutex);
  if (g_primus_path != nullptr) return *g_primus_path;
  const std::string exe = platform::ExecutablePath();
  if (exe.empty()) return std::string();
  g_primus_path = new std::string(platform::ReplaceFileName(exe, kHostSideFileName));
  return *g_primus_path;
}

std::string UserSection() {
  std::lock_guard<std::mutex> lock(g_facts_mutex);
  if (g_user_section != nullptr) return *g_user_section;
  const std::string user = UserSectionName();
  if (user == kAnonymous) return user;  // a passing failure is asked about again next time
  g_user_section = new std::string(user);
  return user;
}

std::shared_ptr<const ProfileSnapshot> NodeListSnapshot(const std::string& path) {
  return LoadProfileSnapshot(path, {kGroupSection, kMachineSection});
}

// atoi: leading white space, an optional sign, the leading digits; saturates where atoi's
// result would be undefined.
int32_t ReadLikeAtoi(std::string_view text) {
  const platform::LeadingNumber n =
      platform::ReadLeadingNumber(text, platform::LeadingBlanks::kAnyCSpace, true);
  const auto value =
      static_cast<int32_t>(std::min<uint64_t>(n.held, std::numeric_limits<int32_t>::max()));
  return n.negative ? -value : value;
}

// The first two fields of a GROUP value as the standard tokenizer splits it at commas: a run
// of commas is one separator and leading commas are skipped. Returns the number found (0..2).
int SplitGroupValue(std::string_view value, std::string_view fields[2]) {
  int found = 0;
  size_t i = 0;
  while (found < 2) {
    while (i < value.size() && value[i] == ',') ++i;
    if (i == value.size()) break;
    const size_t start = i;
    while (i < value.size() && value[i] != ',') ++i;
    fields[found++] = value.substr(start, i - start);
  }
  return found;
}

// n when key is the name "GROUP%d" of some n in 1..limit as the profile lookups match names,
// else 0.
int32_t GroupLineNumber(const std::string& key, int32_t limit) {
  if (key.size() < 6 || key.size() > 15) return 0;
  int64_t n = 0;
  for (size_t i = 5; i < key.size(); ++i) {
    if (key[i] < '0' || key[i] > '9') return 0;
    n = n * 10 + (key[i] - '0');
  }
  if (n < 1 || n > limit) return 0;
  const std::string asked = "GROUP" + std::to_string(n);
  return platform::ProfileKeyMatches(key, asked.c_str()) ? static_cast<int32_t>(n) : 0;
}

// Interns the GROUP lines of the snapshot. Lines are looked up by number once, in one pass
// over the section; lines above the highest one present can only all be the missing-line group
// "error" without a parent, which is interned once instead of once per line, so that a COUNT
// far larger than the file cannot keep the host waiting.
void InternGroupLines(const ProfileSnapshot& snapshot, GroupTable* table) {
  const int32_t count = snapshot.GetInt(kGroupSection, "COUNT", 0);
  if (count <= 0) return;
  const std::vector<platform::ProfileEntry>* entries = snapshot.Section(kGroupSection);
  int32_t present = 0;
  if (entries != nullptr) {
    for (const platform::ProfileEntry& entry : *entries) {
      const int32_t n = GroupLineNumber(entry.key, count);
      if (n > present) present = n;
    }
  }
  // The first line of each number wins, as with a single-key lookup.
  std::vector<const std::string*> lines(static_cast<size_t>(present) + 1, nullptr);
  if (entries != nullptr) {
    for (const platform::ProfileEntry& entry : *entries) {
      const int32_t n = GroupLineNumber(entry.key, present);
      if (n > 0 && lines[static_cast<size_t>(n)] == nullptr)
        lines[static_cast<size_t>(n)] = &entry.value;
    }
  }

  std::vector<int32_t> ids(static_cast<size_t>(present), -1);
  for (int32_t i = 1; i <= present; ++i) {
    const std::string* line = lines[static_cast<size_t>(i)];
    std::string value = line != nullptr ? *line : std::string("error");
    if (value.size() > kGroupValueSize - 1) value.resize(kGroupValueSize - 1);
    std::string_view fields[2];
    const int found = SplitGroupValue(value, fields);
    // A value with no name at all interns the empty name: the line keeps its number, so the
    // lines below it still find their parents and the MACHINE group numbers keep their meaning.
    const std::string name(found >= 1 ? fields[0] : std::string_view());
    const int32_t p = found >= 2 ? ReadLikeAtoi(fields[1]) : 0;
    // Only lines read before this one have an id; the rest are still -1.
    const int32_t parent = (p >= 1 && p <= present) ? ids[static_cast<size_t>(p - 1)] : -1;
    ids[static_cast<size_t>(i - 1)] = table->Intern(name.c_str(), parent);
  }
  if (count > present) table->Intern("error", -1);
}

}  // namespace

uint64_t NodeListSearches() { return g_searches.load(std::memory_order_relaxed); }

bool FindNodeListFile(std::string* path) {
  g_searches.fetch_add(1, std::memory_order_relaxed);
  const std::string primus_path = PrimusPath();
  if (!primus_path.empty()) {
    const std::string user = UserSection();
    const auto primus = LoadProfileSnapshot(primus_path, {user.c_str()});
    if (primus != nullptr) {
      const std::string value =
          primus->GetString(user.c_str(), "NodeListPath", "", platform::kMaxPath);
      if (!value.empty() && platform::FileExists(value)) {
        *path = value;
        return true;
      }
    }
  }
  const char separator = platform::PathSeparator();
  for (std::string dir : {platform::WindowsDirectory(), platform::SystemDirectory()}) {
    if (dir.empty()) continue;
    if (dir.back() != separator) dir += separator;
    dir += kNodeListFileName;
    if (dir.size() < platform::kMaxPath && platform::FileExists(dir)) {
      *path = dir;
      return true;
    }
  }
  std::string found;
  if (platform::SearchPathFile(kNodeListFileName, &found) && !found.empty() &&
      found.size() < platform::kMaxPath) {
    *path = found;
    return true;
  }
  *path = kNodeListFileName;
  return false;
}

int32_t FindNodeListFile(char* path) {
  std::string found;
  bool ok = false;
  try {
    ok = FindNodeListFile(&found);
  } catch (...) {
    ok = false;
    found = kNodeListFileName;
  }
  if (path != nullptr) {
    const size_t n = found.size() < platform::kMaxPath ? found.size() : platform::kMaxPath - 1;
    memcpy(path, found.data(), n);
    path[n] = '\0';
  }
  return ok ? 1 : 0;
}

NodeListView NodeListView::Open() {
  NodeListView view;
  std::string path;
  view.found_ = FindNodeListFile(&path);
  if (!view.found_) return view;
  view.snapshot_ = NodeListSnapshot(path);
  if (view.snapshot_ != nullptr) {
    view.fallback_ = view.snapshot_->GetString(kMachineSection, "DEFAULT", "", kMachineValueSize);
  }
  return view;
}

void NodeListView::ReadGroups(GroupTable* table) const {
  if (table != nullptr && snapshot_ != nullptr) InternGroupLines(*snapshot_, table);
}

bool NodeListView::MachineValue(const char* key, std::string* value) const {
  value->clear();
  if (!found_) return false;
  // A file that vanished since it was found reads as empty, as the profile functions read it.
  if (snapshot_ == nullptr) return true;
  *value = snapshot_->GetString(kMachineSection, key, fallback_.c_str(), kMachineValueSize);
  return true;
}

int32_t ReadNodeListGroups(GroupTable* table) {
  if (table == nullptr) return 0;
  try {
    NodeListView::Open().ReadGroups(table);
  } catch (...) {
    // Out of memory: the groups interned so far stay; the host sees a shorter tree.
  }
  return 0;
}

int32_t GetNodeListKey(int32_t index, char* buffer, int32_t max) {
  const EntryList* list = g_stOrgData.entryList;
  if (g_stOrgData.initialized.load() == 0 || list == nullptr) return -1;
  return GetNodeListKey(*list, g_stOrgData.seedType, index, buffer, max);
}

int32_t GetNodeListKey(const EntryList& list, int32_t seed_type, int32_t index, char* buffer,
                       int32_t max) {
  if (index < 0 || index > list.Count()) return -1;
  using Accessor = int32_t (EntryList::*)(int32_t, char*, int32_t) const;
  Accessor get = &EntryList::GetNickname;
  switch (seed_type) {
    case 1:
      get = &EntryList::GetLogonUser;
      break;
    case 2:
      get = &EntryList::GetMachineName;
      break;
    case 3:
      get = &EntryList::GetAddressText;
      break;
    default:
      break;
  }
  const int32_t length = (list.*get)(index, nullptr, 0);
  if (length < 0) return 0;  // no entry at this index
  const int32_t needed = length + 1;
  if (buffer != nullptr && max >= needed) (list.*get)(index, buffer, max);
  return needed;
}

bool ReadNodeListMachineValue(const char* key, std::string* value) {
  value->clear();
  return NodeListView::Open().MachineValue(key, value);
}

int32_t NodeListNameOf(const std::string& value, char* buffer, int32_t max) {
  const size_t comma = value.find(',');
  const size_t length = comma == std::string::npos ? value.size() : comma;
  const int32_t n = static_cast<int32_t>(length);
  if (buffer != nullptr && max > n) {
    memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
  }
  return n;
}

int32_t NodeListGroupsOf(const std::string& value, int32_t* ids, int32_t max, int32_t offset,
                         const GroupTable* table) {
  const size_t comma = value.find(',');
  if (comma == std::string::npos) return 0;
  const int32_t base = offset > 0 ? offset : 0;
  const int32_t groups = table != nullptr ? table->Count() : 0;
  const std::string_view list = std::string_view(value).substr(comma + 1);
  int32_t valid = 0;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find('&', start);
    if (end == std::string_view::npos) end = list.size();
    if (end > start) {
      const int32_t c = ReadLikeAtoi(list.substr(start, end - start));
      if (c > 0 && c - 1 < groups) {
        if (ids != nullptr && valid < max) {
          ids[valid] = static_cast<int32_t>(static_cast<int64_t>(base) + c - 1);
        }
        ++valid;
      }
    }
    start = end + 1;
  }
  return valid;
}

int32_t GetNodeListName(const char* key, char* buffer, int32_t max) {
  try {
    std::string value;
    if (!ReadNodeListMachineValue(key, &value)) return 0;
    return NodeListNameOf(value, buffer, max);
  } catch (...) {
    return 0;
  }
}

int32_t GetNodeListGroups(const char* key, int32_t* ids, int32_t max, int32_t offset,
                          const GroupTable* table) {
  try {
    std::string value;
    if (!ReadNodeListMachineValue(key, &value)) return 0;
    return NodeListGroupsOf(value, ids, max, offset, table);
  } catch (...) {
    return 0;
  }
}

}  // namespace pb
