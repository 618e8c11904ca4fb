// test_host.h: plays the messenger for in-process tests: a window whose thread runs a message
// loop, and a way to run the plug-in's start-up and shutdown on that thread.
#ifndef PEERBEACON_TESTS_TEST_HOST_H_
#define PEERBEACON_TESTS_TEST_HOST_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "peerbeacon.h"
#include "tests/test_window.h"

namespace pb::testing_host {

// InitializeNetEx and UnInitializeNetEx on the window's thread, as a messenger calls them.
int32_t Initialize(const char* text, MemoReceiveCallback callback);
int32_t UnInitialize();

// A waitable handle as a host passes it to the memo senders to cancel an exchange: a Win32
// event on Windows, an eventfd on Linux.
PB_HANDLE MakeCancelHandle();
void SignalCancelHandle(PB_HANDLE handle);
void CloseCancelHandle(PB_HANDLE handle);
// Cancel handles that make every wait on them fail: a value that names no open object, and a
// handle that was open and has been closed, its value left to no object opened after it.
PB_HANDLE UnopenedCancelHandle();
PB_HANDLE ClosedCancelHandle();  // null when it cannot be made

// Writes the settings file that start-up finds first (beside the test program), holding the
// logon user's section with body; returns its path for the caller to remove.
std::string WriteSettings(const std::string& body);

// An entry data record as a host passes it to the memo senders, addressed to
// address_host:port (host byte order), with an empty name.
std::vector<uint8_t> RecordFor(uint32_t address_host, uint16_t port);

}  // namespace pb::testing_host

#endif  // PEERBEACON_TESTS_TEST_HOST_H_
