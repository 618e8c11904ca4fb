// sync_win32.cc: events, the list semaphore, waits, threads and time on the Win32 kernel objects.
#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace pb::platform {

Handle CreateEventObject(bool manual_reset, bool initially_set) {
  return CreateEventA(nullptr, manual_reset ? TRUE : FALSE, initially_set ? TRUE : FALSE, nullptr);
}

bool SetEventObject(Handle event) { return event != nullptr && SetEvent(event) != FALSE; }

bool ResetEventObject(Handle event) { return event != nullptr && ResetEvent(event) != FALSE; }

Handle CreateListSemaphore() { return CreateSemaphoreA(nullptr, 1, 1, nullptr); }

bool ReleaseListSemaphore(Handle semaphore) {
  return semaphore != nullptr && ReleaseSemaphore(semaphore, 1, nullptr) != FALSE;
}

void CloseHandleObject(Handle handle) {
  if (handle != nullptr) CloseHandle(handle);
}

uint32_t WaitForObjects(uint32_t count, const Handle* handles, uint32_t timeout_ms) {
  if (count == 0 || count > kMaxWaitObjects || handles == nullptr) return kWaitFailed;
  for (uint32_t i = 0; i < count; ++i) {
    if (handles[i] == nullptr) return kWaitFailed;
  }
  // Not alertable: queued APCs must not end a wait that the caller reads as an object index.
  const DWORD rc = WaitForMultipleObjects(count, handles, FALSE, timeout_ms);
  if (rc < WAIT_OBJECT_0 + count) return rc - WAIT_OBJECT_0;
  if (rc == WAIT_TIMEOUT) return kWaitTimeout;
  return kWaitFailed;
}

// The host's handle is a kernel object already; it stays the host's and is never closed here.
Handle WrapHostHandle(void* host_value) { return host_value; }

void ReleaseHostHandle(Handle) {}

namespace {

struct ThreadStart {
  ThreadProc proc;
  void* arg;
};

DWORD WINAPI ThreadMain(LPVOID p) {
  const ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  start.proc(start.arg);
  return 0;
}

}  // namespace

bool StartDetachedThread(ThreadProc proc, void* arg) {
  auto* start = new (std::nothrow) ThreadStart{proc, arg};
  if (start == nullptr) return false;
  HANDLE thread = CreateThread(nullptr, 0, ThreadMain, start, 0, nullptr);
  if (thread == nullptr) {
    delete start;
    return false;
  }
  // Detached: nobody waits for the thread, so its handle is not kept.
  CloseHandle(thread);
  return true;
}

void SleepMs(uint32_t ms) { Sleep(ms); }

uint64_t MonotonicMs() { return GetTickCount64(); }

LocalTime NowLocal() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return LocalTime{st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

}  // namespace pb::platform
