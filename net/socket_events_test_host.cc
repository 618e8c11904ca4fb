// socket_events_test_host.cc: the dispatcher tests' host: the in-process messenger's window,
// on whose thread the dispatcher is opened and closed as the plug-in does it.
#include "net/socket_events_test_host.h"

#include "net/socket_events.h"
#include "tests/test_window.h"

namespace pb::test_host {
namespace {
bool g_ever_opened = false;
}  // namespace

void* HostWindow() { return testing_host::Window(); }

void OpenOnHost() {
  g_ever_opened = true;
  testing_host::RunOnWindowThread([] { OpenSocketEvents(HostWindow()); });
}

void CloseOnHost() {
  testing_host::RunOnWindowThread([] { CloseSocketEvents(); });
}

bool EverOpened() { return g_ever_opened; }

}  // namespace pb::test_host
