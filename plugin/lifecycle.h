// lifecycle.h: start-up, shutdown and status of the plug-in behind the lifecycle exports.
#ifndef PEERBEACON_PLUGIN_LIFECYCLE_H_
#define PEERBEACON_PLUGIN_LIFECYCLE_H_

#include <cstdint>

#include "peerbeacon.h"

namespace pb {

int32_t Specification(void* record);
int32_t Initialize(PB_HWND window, const char* text, MemoReceiveCallback callback);
int32_t UnInitialize();
int32_t NxlStatus();

// How long shutdown waits for the worker threads before it frees shared state anyway (a
// memo connection thread inside the host's callback keeps what it needs alive by itself).
inline constexpr uint32_t kShutdownBoundMs = 5000;
// How long start-up waits for each worker's start-up signal.
inline constexpr uint32_t kStartupWaitMs = 1000;

}  // namespace pb

#endif  // PEERBEACON_PLUGIN_LIFECYCLE_H_
