// memo_receiver.h: the host's memo-receive callback, which shows every memo that arrives.
#ifndef PEERBEACON_HOST_MEMO_RECEIVER_H_
#define PEERBEACON_HOST_MEMO_RECEIVER_H_

#include "host/output.h"
#include "peerbeacon.h"

namespace pbhost {

// Where received memos are shown; must stay valid for as long as the module is loaded,
// because a memo connection thread may still be in the callback after UnInitializeNetEx.
void SetMemoOutput(Output* out);

// Whether the callback accepts the memos it shows (it does until told otherwise).
void SetMemoAccepted(bool accepted);

// How many memos the callback has been handed so far.
int32_t MemosReceived();

// The callback given to InitializeNetEx. Runs on the plug-in's memo connection threads,
// possibly several at once.
int32_t PB_CALL ReceiveMemo(const void* record, int32_t record_size, const void* data,
                            int32_t length);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_MEMO_RECEIVER_H_
