// test_host_win32.cc: start-up, shutdown and cancel handles of the in-process messenger on Windows.
#include <windows.h>

#include <cstdint>

#include "tests/test_host.h"

namespace pb::testing_host {

PB_HANDLE MakeCancelHandle() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }
void SignalCancelHandle(PB_HANDLE handle) { SetEvent(handle); }
void CloseCancelHandle(PB_HANDLE handle) { CloseHandle(handle); }

// A handle value far above any the process is given.
PB_HANDLE UnopenedCancelHandle() { return reinterpret_cast<PB_HANDLE>(uintptr_t{0x00FFFF00}); }

PB_HANDLE ClosedCancelHandle() {
  // Freed handle values are handed out again (the most recently freed first on Windows, the
  // lowest first under Wine): the fillers, freed after it and below it, are reused before it.
  HANDLE fillers[32] = {};
  for (HANDLE& filler : fillers) filler = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (handle != nullptr) CloseHandle(handle);
  for (HANDLE filler : fillers) {
    if (filler != nullptr) CloseHandle(filler);
  }
  return handle;
}

}  // namespace pb::testing_host
