// workers.h: the set of running worker threads, so that shutdown can wait for them to end.
#ifndef PEERBEACON_CORE_WORKERS_H_
#define PEERBEACON_CORE_WORKERS_H_

#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace pb {

// Every thread of the plug-in (the presence receiver, the memo listener and each memo
// connection thread) is counted from just before it is started until its last act, so
// shutdown can wait, within a bound, for all of them before it frees shared state.
class WorkerSet {
 public:
  // Call before starting the thread; pair with Leave (or Abandon when the start failed).
  void Enter();
  // The worker's last act: after it the worker touches no plug-in state.
  void Leave();
  // True when no worker runs, waiting at most timeout_ms.
  bool WaitIdle(uint32_t timeout_ms);
  int32_t Running() const;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_ = MakeImpl();
  static std::shared_ptr<Impl> MakeImpl();
};

WorkerSet& Workers();

// Starts proc(arg) on a detached thread counted in Workers(); false when it cannot be started.
// proc must call Workers().Leave() as its last act.
bool StartWorker(platform::ThreadProc proc, void* arg);

// The body of a thread started with a heap record of type Start: takes the record over, runs
// body with it, frees it, and leaves the worker set as the thread's last act.
template <typename Start, typename Body>
void RunWorker(void* arg, Body body) {
  {
    std::unique_ptr<Start> start(static_cast<Start*>(arg));
    body(*start);
  }
  Workers().Leave();
}

}  // namespace pb

#endif  // PEERBEACON_CORE_WORKERS_H_
