// memo_sender.h: one whole memo exchange on the caller's thread.
#ifndef PEERBEACON_SERVICES_MEMO_SENDER_H_
#define PEERBEACON_SERVICES_MEMO_SENDER_H_

#include <cstdint>

#include "peerbeacon.h"

namespace pb {

class Instance;

inline constexpr uint32_t kMemoSendWaitMs = 60000;

// Connects to the address of the entry data record (offset 28), reads the greeting, sends one
// frame of size payload bytes and returns the peer's 32-bit result, or: 2 stop (the instance's
// stop event), 3 failure (also a refused or failed connect, at once), 4 a wait ran out of
// timeout_ms, 5 cancel was signalled. cancel is the caller's waitable handle or null. The
// caller keeps instance alive for the call.
int32_t SendMemoExchange(const Instance& instance, const void* record, const void* data,
                         int32_t size, uint32_t timeout_ms, PB_HANDLE cancel);
// The same on the current instance; 3 while the plug-in is not initialised.
int32_t SendMemoExchange(const void* record, const void* data, int32_t size, uint32_t timeout_ms,
                         PB_HANDLE cancel);

// SendMemoData waits at most kMemoSendWaitMs for each step, SendResultData without limit.
int32_t HostSendMemoData(const Instance& instance, const void* record, const void* data,
                         int32_t size, PB_HANDLE cancel);
int32_t HostSendResultData(const Instance& instance, const void* record, const void* data,
                           int32_t size, PB_HANDLE cancel);

}  // namespace pb

#endif  // PEERBEACON_SERVICES_MEMO_SENDER_H_
