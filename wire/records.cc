// records.cc: writing the entry and group data records, and bounds-checked decoding of them.
#include "wire/records.h"

#include <cstring>

#include "wire/byte_order.h"

namespace pb {
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
  ReadInt32(bytes, kRecordSizeField, size);
  if (*size < fixed || static_cast<size_t>(*size) > bytes.size()) {
    return Fail(error, "size field " + std::to_string(*size) + " outside " + std::to_string(fixed) +
                           ".." + std::to_string(bytes.size()));
  }
  int32_t version = 0;
  ReadInt32(bytes, kRecordVersionField, &version);
  if (version != PB_RECORD_VERSION) {
    return Fail(error, "unknown record version " + std::to_string(version));
  }
  return true;
}

}  // namespace

void WriteEntryRecordHeader(uint8_t* record, int32_t size, int32_t status, int32_t group_count,
                            int32_t group_ids_offset, const uint8_t address[16]) {
  WriteLe32Signed(record + kRecordSizeField, size);
  WriteLe32Signed(record + kRecordVersionField, PB_RECORD_VERSION);
  WriteLe32Signed(record + kEntryKindField, PB_ENTRY_KIND);
  WriteLe32Signed(record + kEntryStatusField, status);
  WriteLe32Signed(record + kEntryGroupCountField, group_count);
  WriteLe32Signed(record + kEntryGroupIdsOffsetField, group_ids_offset);
  WriteLe32Signed(record + kEntryNameOffsetField, kEntryFixedSize);
  memcpy(record + kEntryAddressField, address, sizeof(PbSocketAddress));
}

void WriteGroupRecord(uint8_t* record, int32_t parent, const char* name, size_t length) {
  WriteLe32Signed(record + kRecordSizeField, static_cast<int32_t>(kGroupFixedSize + length + 1));
  WriteLe32Signed(record + kRecordVersionField, PB_RECORD_VERSION);
  WriteLe32Signed(record + kGroupParentField, parent);
  WriteLe32Signed(record + kGroupReservedField, 0);
  WriteLe32Signed(record + kGroupNameOffsetField, kGroupFixedSize);
  memcpy(record + kGroupFixedSize, name, length);
  record[kGroupFixedSize + length] = '\0';
}

bool IsEntryRecord(std::span<const uint8_t> bytes) {
  int32_t kind = 0;
  return bytes.size() >= static_cast<size_t>(kEntryFixedSize) &&
         ReadInt32(bytes, kEntryKindField, &kind) && kind == PB_ENTRY_KIND;
}

bool ReadInt32(std::span<const uint8_t> bytes, size_t offset, int32_t* value) {
  if (offset > bytes.size() || bytes.size() - offset < 4) return false;
  *value = ReadLe32Signed(bytes.data() + offset);
  return true;
}

std::optional<EntryRecordFields> DecodeEntryRecord(std::span<const uint8_t> bytes,
                                                   std::string* error) {
  EntryRecordFields peer;
  if (!ReadSize(bytes, kEntryFixedSize, &peer.size, error)) return std::nullopt;
  int32_t kind = 0, group_count = 0, ids_offset = 0, name_offset = 0;
  ReadInt32(bytes, kEntryKindField, &kind);
  ReadInt32(bytes, kEntryStatusField, &peer.status);
  ReadInt32(bytes, kEntryGroupCountField, &group_count);
  ReadInt32(bytes, kEntryGroupIdsOffsetField, &ids_offset);
  ReadInt32(bytes, kEntryNameOffsetField, &name_offset);
  if (kind != PB_ENTRY_KIND) {
    Fail(error, "entry kind " + std::to_string(kind) + " is not " + std::to_string(PB_ENTRY_KIND));
    return std::nullopt;
  }
  const uint8_t* address = bytes.data() + kEntryAddressField;
  peer.family = static_cast<uint16_t>(address[0] | address[1] << 8);
  peer.port = static_cast<uint16_t>(address[2] << 8 | address[3]);
  std::memcpy(peer.address, bytes.data() + kEntryIpv4Field, 4);

  if (name_offset < kEntryFixedSize || !ReadText(bytes, name_offset, peer.size, &peer.name)) {
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
    if (ids_offset < kEntryFixedSize || end > peer.size) {
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

std::optional<GroupRecordFields> DecodeGroupRecord(std::span<const uint8_t> bytes,
                                                   std::string* error) {
  GroupRecordFields group;
  if (!ReadSize(bytes, kGroupFixedSize, &group.size, error)) return std::nullopt;
  int32_t name_offset = 0;
  ReadInt32(bytes, kGroupParentField, &group.parent);
  ReadInt32(bytes, kGroupNameOffsetField, &name_offset);
  if (group.parent < -1) {
    Fail(error, "parent index " + std::to_string(group.parent));
    return std::nullopt;
  }
  if (name_offset < kGroupFixedSize || !ReadText(bytes, name_offset, group.size, &group.name)) {
    Fail(error, "name at offset " + std::to_string(name_offset) +
                    " is not a terminated text inside the record");
    return std::nullopt;
  }
  return group;
}

}  // namespace pb
