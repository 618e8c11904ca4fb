// lifecycle.h: start-up, shutdown and status of the plug-in behind the lifecycle exports.
#ifndef PEERBEACON_PLUGIN_LIFECYCLE_H_
#define PEERBEACON_PLUGIN_LIFECYCLE_H_

#include <cstdint>

#include "peerbeacon.h"

namespace pb {

// The function behind export X is named HostX throughout the plug-in.
int32_t HostNetExSpecification(void* record);
int32_t HostInitializeNetEx(PB_HWND window, const char* text, MemoReceiveCallback callback);
int32_t HostUnInitializeNetEx();
int32_t HostGetNxlStatus();

// How long shutdown waits for the worker threads before it frees shared state anyway (a
// memo connection thread inside the host's callback keeps what it needs alive by itself).
inline constexpr uint32_t kShutdownBoundMs = 5000;
// How long start-up waits for each worker's start-up signal.
inline constexpr uint32_t kStartupWaitMs = 1000;

}  // namespace pb

#endif  // PEERBEACON_PLUGIN_LIFECYCLE_H_
