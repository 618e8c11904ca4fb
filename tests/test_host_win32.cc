// test_host_win32.cc: start-up, shutdown and cancel handles of the in-process messenger on Windows.
#include <windows.h>

#include "tests/test_host.h"

namespace pb::testing_host {

PB_HANDLE MakeCancelHandle() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }
void SignalCancelHandle(PB_HANDLE handle) { SetEvent(handle); }
void CloseCancelHandle(PB_HANDLE handle) { CloseHandle(handle); }

}  // namespace pb::testing_host
