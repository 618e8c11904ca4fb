// global_block_posix.cc: reading and freeing the record block that InputEntry hands over.
#include <stdlib.h>
#include <string.h>

#include "host/host_window.h"

namespace pbhost {

bool TakeGlobalRecord(PB_HGLOBAL block, std::vector<uint8_t>* record) {
  if (block == nullptr) return false;
  // The Linux plug-in's block is a heap block whose first field is the record's size.
  const auto* bytes = static_cast<const uint8_t*>(block);
  uint32_t size = 0;
  memcpy(&size, bytes, sizeof size);
  const bool ok = size >= PB_ENTRY_FIXED_SIZE && size <= 4096;
  if (ok) record->assign(bytes, bytes + size);
  free(block);
  return ok;
}

}  // namespace pbhost
