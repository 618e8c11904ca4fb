// socket_events_test_host_posix.cc: notifications handed to the dispatcher as its poll thread does.
#include "net/socket_events.h"
#include "net/socket_events_test_host.h"

namespace pb::test_host {

bool NotifyThroughPlatform(SocketHandle socket, uint32_t event_code, int32_t error) {
  DeliverSocketNotification(socket, event_code, error);
  return true;
}

}  // namespace pb::test_host
