// socket_events_test_host_posix.cc: the Linux stand-in for the host window of dispatcher tests.
#include "net/socket_events.h"
#include "net/socket_events_test_host.h"

namespace pb::test_host {
namespace {
int g_token = 0;
bool g_ever_opened = false;
}  // namespace

void* HostWindow() { return &g_token; }

void OpenOnHost() {
  g_ever_opened = true;
  OpenSocketEvents(HostWindow());
}

void CloseOnHost() { CloseSocketEvents(); }

bool EverOpened() { return g_ever_opened; }

bool NotifyThroughPlatform(SocketHandle socket, uint32_t event_code, int32_t error) {
  DeliverSocketNotification(socket, event_code, error);
  return true;
}

}  // namespace pb::test_host
