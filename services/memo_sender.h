// memo_sender.h: one whole memo exchange on the caller's thread, and the refusal text.
#ifndef PEERBEACON_SERVICES_MEMO_SENDER_H_
#define PEERBEACON_SERVICES_MEMO_SENDER_H_

#include <cstdint>

#include "peerbeacon.h"

namespace pb {

inline constexpr uint32_t kMemoSendWaitMs = 60000;

// Connects to the address of the entry data record (offset 28), reads the greeting, sends one
// frame of size payload bytes and returns the peer's 32-bit result, or: 2 stop, 3 failure
// (also a refused or failed connect, at once), 4 a wait ran out of timeout_ms, 5 cancel was
// signalled. cancel is the caller's waitable handle or null.
int32_t SendMemoExchange(const void* record, const void* data, int32_t size, uint32_t timeout_ms,
                         PB_HANDLE cancel);

int32_t SendMemoDataImpl(const void* record, const void* data, int32_t size, PB_HANDLE cancel);
int32_t SendResultDataImpl(const void* record, const void* data, int32_t size, PB_HANDLE cancel);

// Code 101's text as Shift-JIS bytes: copied (at most max - 1 bytes and a NUL) when buffer is
// given and max is not 0, returning the length written; else its length, 24. -1 for any
// other code.
int32_t GetErrorMsgImpl(int32_t code, char* buffer, int32_t max);

}  // namespace pb

#endif  // PEERBEACON_SERVICES_MEMO_SENDER_H_
