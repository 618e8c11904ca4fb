// workers.cc: counts the plug-in's running threads so that shutdown can wait for them.
#include "core/workers.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace pb {

struct WorkerSet::Impl {
  std::mutex mutex;
  std::condition_variable idle;
  int32_t running = 0;
};

std::shared_ptr<WorkerSet::Impl> WorkerSet::MakeImpl() { return std::make_shared<Impl>(); }

void WorkerSet::Enter() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  ++impl_->running;
}

void WorkerSet::Leave() {
  // Keep the state alive through the notify even if the set itself goes away meanwhile.
  std::shared_ptr<Impl> impl = impl_;
  std::lock_guard<std::mutex> lock(impl->mutex);
  if (--impl->running == 0) impl->idle.notify_all();
}

bool WorkerSet::WaitIdle(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->idle.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                              [this] { return impl_->running == 0; });
}

int32_t WorkerSet::Running() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->running;
}

WorkerSet& Workers() {
  // Never destroyed: a detached worker may still leave while the process exits.
  static WorkerSet* set = new WorkerSet;
  return *set;
}

bool StartWorker(platform::ThreadProc proc, void* arg) {
  Workers().Enter();
  if (platform::StartDetachedThread(proc, arg)) return true;
  Workers().Leave();
  return false;
}

}  // namespace pb
