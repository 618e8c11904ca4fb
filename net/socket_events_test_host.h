// socket_events_test_host.h: plays the host for dispatcher tests (its window and message loop).
#ifndef PEERBEACON_NET_SOCKET_EVENTS_TEST_HOST_H_
#define PEERBEACON_NET_SOCKET_EVENTS_TEST_HOST_H_

#include <cstdint>

#include "net/socket.h"

namespace pb::test_host {

// The host's window: on Windows a top-level window whose thread runs a message loop (started
// on first use); on Linux a token.
void* HostWindow();
// OpenSocketEvents and CloseSocketEvents, called on the host's thread as the plug-in does.
void OpenOnHost();
void CloseOnHost();
// Whether OpenOnHost has run in this process.
bool EverOpened();
// Delivers a notification the way the platform does (on Windows the registered message sent
// to the hidden window, which must exist with its class, title and parent); false when it
// could not be sent.
bool NotifyThroughPlatform(SocketHandle socket, uint32_t event_code, int32_t error);

}  // namespace pb::test_host

#endif  // PEERBEACON_NET_SOCKET_EVENTS_TEST_HOST_H_
