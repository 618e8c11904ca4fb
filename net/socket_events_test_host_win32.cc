// socket_events_test_host_win32.cc: notifications sent to the hidden window as Winsock sends them.
#include <windows.h>

#include "net/socket_events.h"
#include "net/socket_events_test_host.h"

namespace pb::test_host {

bool NotifyThroughPlatform(SocketHandle socket, uint32_t event_code, int32_t error) {
  HWND host = static_cast<HWND>(HostWindow());
  HWND hidden = FindWindowExA(host, nullptr, "MulticastCheckWnd", "forOrgSelect");
  if (hidden == nullptr || GetParent(hidden) != host) return false;
  const LONG style = GetWindowLongA(hidden, GWL_STYLE);
  if ((style & WS_CHILD) == 0 || (style & WS_VISIBLE) != 0) return false;
  const UINT message = RegisterWindowMessageA("forOrgEventSelect");
  SendMessageA(hidden, message, static_cast<WPARAM>(socket),
               MAKELPARAM(static_cast<WORD>(event_code), static_cast<WORD>(error)));
  return true;
}

}  // namespace pb::test_host
