// memo_receiver.h: ListenThread and the memo connection threads it starts.
#ifndef PEERBEACON_SERVICES_MEMO_RECEIVER_H_
#define PEERBEACON_SERVICES_MEMO_RECEIVER_H_

#include <cstdint>
#include <memory>

#include "net/socket.h"
#include "peerbeacon.h"
#include "platform/platform.h"

namespace pb {

class Instance;

// What the listener hands each connection thread, which owns and frees it.
struct MemoConnectionStart {
  std::shared_ptr<Instance> instance;  // kept alive for the thread's lifetime
  SocketHandle socket;
  SocketAddress peer;  // the caller, as the accept gave it
  MemoReceiveCallback callback;
  int32_t absence;  // the absence value when the connection was accepted
};

// The thread procedure started by InitializeNetEx; arg is a WorkerStartup it takes over.
void ListenThread(void* arg);
// One accepted connection; arg is a MemoConnectionStart it takes over.
void MemoConnectionThread(void* arg);

// Every wait of a connection thread ends after this long without news: a caller that goes
// silent must not hold a thread and a dispatcher slot until the plug-in stops.
uint32_t MemoConnectionWaitMs();
void SetMemoConnectionWaitMs(uint32_t ms);  // tests shorten it

}  // namespace pb

#endif  // PEERBEACON_SERVICES_MEMO_RECEIVER_H_
