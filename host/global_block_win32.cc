// global_block_win32.cc: reading and freeing the record block that InputEntry hands over.
#include <windows.h>

#include "host/host_window.h"

namespace pbhost {

bool TakeGlobalRecord(PB_HGLOBAL block, std::vector<uint8_t>* record) {
  if (block == nullptr) return false;
  const SIZE_T size = GlobalSize(block);
  const void* bytes = GlobalLock(block);
  const bool ok = bytes != nullptr && size >= PB_ENTRY_FIXED_SIZE;
  if (ok) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    record->assign(p, p + size);
  }
  if (bytes != nullptr) GlobalUnlock(block);
  GlobalFree(block);
  return ok;
}

}  // namespace pbhost
