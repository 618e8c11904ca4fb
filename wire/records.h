// records.h: the entry and group data records the host reads: their layout in one place, the
// writers the plug-in fills them with, and the checked readers for records from elsewhere.
#ifndef PEERBEACON_WIRE_RECORDS_H_
#define PEERBEACON_WIRE_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "peerbeacon.h"

namespace pb {

// Field offsets, taken from the record types of the host header.
inline constexpr size_t kRecordSizeField = offsetof(EntryDataRecord, size);
inline constexpr size_t kRecordVersionField = offsetof(EntryDataRecord, version);
inline constexpr size_t kEntryKindField = offsetof(EntryDataRecord, kind);
inline constexpr size_t kEntryStatusField = offsetof(EntryDataRecord, status);
inline constexpr size_t kEntryGroupCountField = offsetof(EntryDataRecord, group_count);
inline constexpr size_t kEntryGroupIdsOffsetField = offsetof(EntryDataRecord, group_ids_offset);
inline constexpr size_t kEntryNameOffsetField = offsetof(EntryDataRecord, name_offset);
inline constexpr size_t kEntryAddressField = offsetof(EntryDataRecord, address);
inline constexpr size_t kEntryIpv4Field = offsetof(EntryDataRecord, address.address);
inline constexpr size_t kGroupParentField = offsetof(GroupDataRecord, parent);
inline constexpr size_t kGroupReservedField = offsetof(GroupDataRecord, reserved);
inline constexpr size_t kGroupNameOffsetField = offsetof(GroupDataRecord, name_offset);
// The plug-in's records put the name right behind the fixed part.
inline constexpr int32_t kEntryFixedSize = PB_ENTRY_FIXED_SIZE;
inline constexpr int32_t kGroupFixedSize = PB_GROUP_FIXED_SIZE;

// Writes an entry record's 44-byte fixed part; the name offset is always 44.
void WriteEntryRecordHeader(uint8_t* record, int32_t size, int32_t status, int32_t group_count,
                            int32_t group_ids_offset, const uint8_t address[16]);
// Writes a whole group record of 21 + length bytes: the fixed part and the name with its NUL.
void WriteGroupRecord(uint8_t* record, int32_t parent, const char* name, size_t length);

// True when bytes hold an entry record's fixed part (44 bytes at least, of the entry kind);
// only then may its fields be read.
bool IsEntryRecord(std::span<const uint8_t> bytes);

// A decoded entry record. `name` holds the raw 8-bit bytes up to (not including) the
// terminator; `address` is the IPv4 address in transmission order (first octet first) and
// `port` is in host order.
struct EntryRecordFields {
  int32_t size = 0;
  int32_t status = 0;
  uint16_t family = 0;
  uint16_t port = 0;
  uint8_t address[4] = {};
  std::string name;
  std::vector<int32_t> group_ids;
};

// A decoded group record; `parent` is -1 at top level.
struct GroupRecordFields {
  int32_t size = 0;
  int32_t parent = -1;
  std::string name;
};

// Decoders for records received from elsewhere. `bytes` is exactly what was filled (the size
// reported). Every offset and count inside the record is checked against both the record's own
// size field and bytes.size(); a record that points outside itself, lacks a terminator, or
// carries another version or kind is rejected with a reason in *error.
std::optional<EntryRecordFields> DecodeEntryRecord(std::span<const uint8_t> bytes,
                                                   std::string* error);
std::optional<GroupRecordFields> DecodeGroupRecord(std::span<const uint8_t> bytes,
                                                   std::string* error);

// Little-endian signed 32-bit read at offset; false when the 4 bytes are not all inside.
bool ReadInt32(std::span<const uint8_t> bytes, size_t offset, int32_t* value);

}  // namespace pb

#endif  // PEERBEACON_WIRE_RECORDS_H_
