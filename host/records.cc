// records.cc: addresses and group paths of decoded records, as the host shows them.
#include "host/records.h"

namespace pbhost {

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
