// entry_reader.cc: size-then-fill reads of entry and group records, with overrun detection.
#include "host/entry_reader.h"

#include <algorithm>

namespace pbhost {
namespace {

// Bytes behind the buffer that the plug-in must leave untouched.
constexpr size_t kGuardSize = 16;
constexpr uint8_t kGuardByte = 0xA5;
// No record of this system comes near this; a larger answer is a fault, not an allocation.
constexpr int32_t kMaxRecordSize = 1 << 20;

template <typename Getter>
bool FetchRaw(Getter getter, const char* what, int32_t index, int32_t fixed,
              std::vector<uint8_t>* raw, std::string* error) {
  const int32_t needed = getter(index, nullptr, 0);
  if (needed == -1) {
    *error = std::string(what) + ": no record at index " + std::to_string(index);
    return false;
  }
  if (needed < fixed || needed > kMaxRecordSize) {
    *error = std::string(what) + "(" + std::to_string(index) + ") asked for " +
             std::to_string(needed) + " bytes";
    return false;
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(needed) + kGuardSize, kGuardByte);
  const int32_t written = getter(index, buffer.data(), needed);
  if (written != needed) {
    *error = std::string(what) + "(" + std::to_string(index) + ") asked for " +
             std::to_string(needed) + " bytes, then returned " + std::to_string(written);
    return false;
  }
  if (!std::all_of(buffer.begin() + needed, buffer.end(),
                   [](uint8_t b) { return b == kGuardByte; })) {
    *error = std::string(what) + "(" + std::to_string(index) + ") wrote beyond its " +
             std::to_string(needed) + " bytes";
    return false;
  }
  buffer.resize(static_cast<size_t>(needed));
  *raw = std::move(buffer);
  return true;
}

}  // namespace

EntryListLock::EntryListLock(const PluginApi& api) : api_(api) {
  if (api_.LockEntryList != nullptr && api_.UnlockEntryList != nullptr) {
    locked_ = api_.LockEntryList() == 1;
  }
}

EntryListLock::~EntryListLock() {
  if (locked_) api_.UnlockEntryList();
}

bool FetchPeer(const PluginApi& api, int32_t index, ListedPeer* peer, std::string* error) {
  peer->index = index;
  if (!FetchRaw([&](int32_t i, void* b, int32_t n) { return api.GetEntryData(i, b, n); },
                "GetEntryData", index, PB_ENTRY_FIXED_SIZE, &peer->raw, error)) {
    return false;
  }
  std::string why;
  auto record = DecodeEntryRecord(peer->raw, &why);
  if (!record) {
    *error = "peer " + std::to_string(index) + ": " + why;
    return false;
  }
  if (static_cast<size_t>(record->size) != peer->raw.size()) {
    *error = "peer " + std::to_string(index) + ": size field " + std::to_string(record->size) +
             " differs from the " + std::to_string(peer->raw.size()) + " bytes reported";
    return false;
  }
  peer->record = std::move(*record);
  return true;
}

bool FetchGroup(const PluginApi& api, int32_t index, GroupRecord* group, std::string* error,
                std::vector<uint8_t>* raw_out) {
  std::vector<uint8_t> raw;
  if (!FetchRaw([&](int32_t i, void* b, int32_t n) { return api.GetGroupData(i, b, n); },
                "GetGroupData", index, PB_GROUP_FIXED_SIZE, &raw, error)) {
    return false;
  }
  if (raw_out != nullptr) *raw_out = raw;
  std::string why;
  auto record = DecodeGroupRecord(raw, &why);
  if (!record) {
    *error = "group " + std::to_string(index) + ": " + why;
    return false;
  }
  if (static_cast<size_t>(record->size) != raw.size()) {
    *error = "group " + std::to_string(index) + ": size field " + std::to_string(record->size) +
             " differs from the " + std::to_string(raw.size()) + " bytes reported";
    return false;
  }
  *group = std::move(*record);
  return true;
}

std::vector<GroupRecord> FetchGroups(const PluginApi& api, std::vector<std::string>* errors) {
  std::vector<GroupRecord> groups;
  if (api.GetGroupCount == nullptr || api.GetGroupData == nullptr) return groups;
  const int32_t count = api.GetGroupCount();
  if (count > kMaxListCount) {
    errors->push_back("GetGroupCount returned " + std::to_string(count));
    return groups;
  }
  for (int32_t i = 0; i < count; ++i) {
    GroupRecord group;
    std::string error;
    if (!FetchGroup(api, i, &group, &error)) {
      errors->push_back(error);
      group = GroupRecord{};
      group.name = "#" + std::to_string(i);
    }
    groups.push_back(std::move(group));
  }
  return groups;
}

}  // namespace pbhost
