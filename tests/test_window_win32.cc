// test_window_win32.cc: a messenger window with its own message loop for in-process tests.
#include <windows.h>

#include <mutex>

#include "tests/test_window.h"

namespace pb::testing_host {
namespace {

constexpr UINT kRunMessage = WM_APP + 10;
constexpr char kClassName[] = "PeerbeaconTestMessenger";
HWND g_window = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kRunMessage) {
    (*reinterpret_cast<const std::function<void()>*>(lparam))();
    return 1;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

DWORD WINAPI LoopThread(LPVOID ready) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = kClassName;
  RegisterClassA(&window_class);
  g_window = CreateWindowExA(0, kClassName, "Peerbeacon test messenger", WS_OVERLAPPEDWINDOW, 0, 0,
                             100, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  SetEvent(static_cast<HANDLE>(ready));
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

}  // namespace

PB_HWND Window() {
  static std::once_flag once;
  std::call_once(once, [] {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, LoopThread, ready, 0, nullptr);
    if (thread != nullptr) {
      WaitForSingleObject(ready, 30000);
      CloseHandle(thread);
    }
    CloseHandle(ready);
  });
  return g_window;
}

void RunOnWindowThread(const std::function<void()>& work) {
  SendMessageA(static_cast<HWND>(Window()), kRunMessage, 0, reinterpret_cast<LPARAM>(&work));
}

}  // namespace pb::testing_host
