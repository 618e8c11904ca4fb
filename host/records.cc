// records.cc: bounds-checked decoding of entry and group data records.
#include "host/records.h"

#include <cstring>

#include "peerbeacon.h"

namespace pbhost {
namespace {

bool Fail(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

// Reads the NUL-terminated text at `offset`, which must end before `limit`.
bool ReadText(std::span<const uint8_t> bytes, int32_t offset, int32_t limit, std::string* text) {
  if (offset < 0 || offset >= limit || static_cast<size_t>(limit) > bytes.size()) return false;
  const uint8_t* begin = bytes.data() + offset;
  const void* nul = std::memchr(begin, 0, static_cast<size_t>(limit - offset));
  if (nul == nullptr) return false;
  text->assign(reinterpret_cast<const char*>(begin),
               static_cast<size_t>(static_cast<const uint8_t*>(nul) - begin));
  return true;
}

// The record's own size field, which must cover the fixed part and lie within what was filled.
bool ReadSize(std::span<const uint8_t> bytes, int32_t fixed, int32_t* size, std::string* error) {
  if (bytes.size() < static_cast<size_t>(fixed)) {
    return Fail(error, "record of " + std::to_string(bytes.size()) +
                           " bytes is shorter than its fixed part of " + std::to_string(fixed));
  }
  ReadInt32(bytes, 0, size);
  if (*size < fixed || static_cast<size_t>(*size) > bytes.size()) {
    return Fail(error, "size field " + std::to_string(*size) + " outside " + std::to_string(fixed) +
                           ".." + std::to_string(bytes.size()));
  }
  int32_t version = 0;
  ReadInt32(bytes, 4, &version);
  if (version != PB_RECORD_VERSION) {
    return Fail(error, "unknown record version " + std::to_string(version));
  }
  return true;
}

}  // namespace

bool ReadInt32(std::span<const uint8_t> bytes, size_t offset, int32_t* value) {
  if (offset > bytes.size() || bytes.size() - offset < 4) return false;
  const uint8_t* p = bytes.data() + offset;
  *value =
      static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
  return true;
}

std::optional<PeerRecord> DecodeEntryRecord(std::span<const uint8_t> bytes, std::string* error) {
  PeerRecord peer;
  if (!ReadSize(bytes, PB_ENTRY_FIXED_SIZE, &peer.size, error)) return std::nullopt;
  int32_t kind = 0, group_count = 0, ids_offset = 0, name_offset = 0;
  ReadInt32(bytes, 8, &kind);
  ReadInt32(bytes, 12, &peer.status);
  ReadInt32(bytes, 16, &group_count);
  ReadInt32(bytes, 20, &ids_offset);
  ReadInt32(bytes, 24, &name_offset);
  if (kind != PB_ENTRY_KIND) {
    Fail(error, "entry kind " + std::to_string(kind) + " is not " + std::to_string(PB_ENTRY_KIND));
    return std::nullopt;
  }
  peer.family = static_cast<uint16_t>(bytes[28] | bytes[29] << 8);
  peer.port = static_cast<uint16_t>(bytes[30] << 8 | bytes[31]);
  std::memcpy(peer.address, bytes.data() + 32, 4);

  if (name_offset < PB_ENTRY_FIXED_SIZE || !ReadText(bytes, name_offset, peer.size, &peer.name)) {
    Fail(error, "name at offset " + std::to_string(name_offset) +
                    " is not a terminated text inside the record");
    return std::nullopt;
  }
  if (group_count < 0) {
    Fail(error, "negative group count " + std::to_string(group_count));
    return std::nullopt;
  }
  if (group_count > 0) {
    const int64_t end = static_cast<int64_t>(ids_offset) + 4 * static_cast<int64_t>(group_count);
    if (ids_offset < PB_ENTRY_FIXED_SIZE || end > peer.size) {
      Fail(error, std::to_string(group_count) + " group ids at offset " +
                      std::to_string(ids_offset) + " reach beyond the record's " +
                      std::to_string(peer.size) + " bytes");
      return std::nullopt;
    }
    peer.group_ids.resize(static_cast<size_t>(group_count));
    for (int32_t i = 0; i < group_count; ++i) {
      ReadInt32(bytes, static_cast<size_t>(ids_offset) + 4 * static_cast<size_t>(i),
                &peer.group_ids[static_cast<size_t>(i)]);
    }
  }
  return peer;
}

std::optional<GroupRecord> DecodeGroupRecord(std::span<const uint8_t> bytes, std::string* error) {
  GroupRecord group;
  if (!ReadSize(bytes, PB_GROUP_FIXED_SIZE, &group.size, error)) return std::nullopt;
  int32_t name_offset = 0;
  ReadInt32(bytes, 8, &group.parent);
  ReadInt32(bytes, 16, &name_offset);
  if (group.parent < -1) {
    Fail(error, "parent index " + std::to_string(group.parent));
    return std::nullopt;
  }
  if (name_offset < PB_GROUP_FIXED_SIZE || !ReadText(bytes, name_offset, group.size, &group.name)) {
    Fail(error, "name at offset " + std::to_string(name_offset) +
                    " is not a terminated text inside the record");
    return std::nullopt;
  }
  return group;
}

std::string DottedAddress(const uint8_t address[4]) {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
         std::to_string(address[2]) + "." + std::to_string(address[3]);
}

std::string GroupPath(const std::vector<GroupRecord>& groups, int32_t index) {
  std::string path;
  for (size_t steps = 0; index >= 0 && static_cast<size_t>(index) < groups.size(); ++steps) {
    if (steps == groups.size()) return "...>" + path;
    const GroupRecord& group = groups[static_cast<size_t>(index)];
    path = path.empty() ? group.name : group.name + ">" + path;
    index = group.parent;
  }
  return path.empty() ? "#" + std::to_string(index) : path;
}

}  // namespace pbhost
