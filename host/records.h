// records.h: safe decoding of the entry and group data records that the plug-in hands the host.
#ifndef PEERBEACON_HOST_RECORDS_H_
#define PEERBEACON_HOST_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pbhost {

// A peer as described by an entry data record. `name` holds the raw 8-bit bytes up to (not
// including) the terminator; `address` is the IPv4 address in transmission order (first octet
// first) and `port` is in host order.
struct PeerRecord {
  int32_t size = 0;
  int32_t status = 0;
  uint16_t family = 0;
  uint16_t port = 0;
  uint8_t address[4] = {};
  std::string name;
  std::vector<int32_t> group_ids;
};

// A group as described by a group data record; `parent` is -1 at top level.
struct GroupRecord {
  int32_t size = 0;
  int32_t parent = -1;
  std::string name;
};

// Decoders. `bytes` is exactly what the plug-in filled (the size it reported). Every offset
// and count inside the record is checked against both the record's own size field and
// bytes.size(); a record that points outside itself, lacks a terminator, or carries another
// version or kind is rejected with a reason in *error.
std::optional<PeerRecord> DecodeEntryRecord(std::span<const uint8_t> bytes, std::string* error);
std::optional<GroupRecord> DecodeGroupRecord(std::span<const uint8_t> bytes, std::string* error);

// Little-endian signed 32-bit read at offset; false when the 4 bytes are not all inside.
bool ReadInt32(std::span<const uint8_t> bytes, size_t offset, int32_t* value);

// "a.b.c.d" of an address in transmission order.
std::string DottedAddress(const uint8_t address[4]);

// The path of group `index` through its parents ("Sales>East"), built from a list of groups
// indexed by position. A parent outside the list ends the path there; a cycle is cut at the
// list's length so that a malformed table cannot loop.
std::string GroupPath(const std::vector<GroupRecord>& groups, int32_t index);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_RECORDS_H_
