// records.h: the entry and group data records that the plug-in hands the host, as the host shows
// them.
#ifndef PEERBEACON_HOST_RECORDS_H_
#define PEERBEACON_HOST_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/records.h"

namespace pbhost {

// The records as the plug-in's own codec decodes them: every offset and count inside a record
// is checked against both its size field and the bytes filled.
using PeerRecord = pb::EntryRecordFields;
using GroupRecord = pb::GroupRecordFields;
using pb::DecodeEntryRecord;
using pb::DecodeGroupRecord;
using pb::ReadInt32;

// "a.b.c.d" of an address in transmission order.
std::string DottedAddress(const uint8_t address[4]);

// The path of group `index` through its parents ("Sales>East"), built from a list of groups
// indexed by position. A parent outside the list ends the path there; a cycle is cut at the
// list's length so that a malformed table cannot loop.
std::string GroupPath(const std::vector<GroupRecord>& groups, int32_t index);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_RECORDS_H_
