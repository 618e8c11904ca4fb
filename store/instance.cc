// instance.cc: creating and freeing one start's state, its view in g_stOrgData and the
// current-instance slot.
#include "store/instance.h"

#include <atomic>
#include <new>
#include <utility>

namespace pb {
namespace {

std::atomic<int32_t> g_live{0};

// Read by host threads and written by start-up and shutdown, so only under its own lock.
std::mutex& CurrentLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}
std::shared_ptr<Instance>& CurrentSlot() {
  static auto* slot = new std::shared_ptr<Instance>;
  return *slot;
}

}  // namespace

std::shared_ptr<Instance> Instance::Create() {
  std::shared_ptr<Instance> instance;
  try {
    instance.reset(new Instance);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  instance->entries_.reset(EntryList::Create());
  instance->peer_groups_.reset(new (std::nothrow) GroupTable);
  instance->stop_event_.reset(
      platform::CreateEventObject(/*manual_reset=*/true, /*initially_set=*/false));
  if (!instance->entries_ || !instance->peer_groups_ || !instance->stop_event_) return nullptr;
  return instance;
}

Instance::Instance() { g_live.fetch_add(1); }

Instance::~Instance() {
  if (peer_groups_) peer_groups_->Clear();
  g_live.fetch_sub(1);
}

void Instance::Stop() const {
  if (stop_event_) platform::SetEventObject(stop_event_.get());
}

bool Instance::StopRequested() const {
  platform::Handle stop = stop_event_.get();
  return stop == nullptr || platform::WaitForObjects(1, &stop, 0) == 0;
}

EntryCommandBuffer Instance::OwnEntryCommand(int32_t command, int32_t argument) const {
  return BuildEntryCommand(command, argument, settings.nickname.c_str(), settings.group.c_str(),
                           logon_user.c_str(), computer_name.c_str(), settings.domainKey);
}

void Instance::AttachView(PluginState* s) const {
  s->stopEvent = stop_event_.get();
  s->entryList = entries_.get();
  s->peerGroups = peer_groups_.get();
  s->nodeListGroups = node_list_groups.get();
  s->hostText = host_text.c_str();
  s->logonUser = logon_user.c_str();
  s->computerName = computer_name.c_str();
  s->nickname = settings.nickname.c_str();
  s->group = settings.group.c_str();
  s->memoCallback = memo_callback;
  s->port = settings.port;
  s->groupAddress = settings.groupAddress;
  s->interfaceAddress.store(settings.interfaceAddress);
  s->ttl = settings.ttl;
  s->domainKey = settings.domainKey;
  s->seedType = settings.seedType;
  s->checkFrom = settings.checkFrom;
}

void Instance::Retire() {
  std::lock_guard<std::mutex> lock(publish_lock_);
  retired_ = true;
}

int32_t Instance::LiveCount() { return g_live.load(); }

std::shared_ptr<Instance> CurrentInstance() {
  std::lock_guard<std::mutex> lock(CurrentLock());
  return CurrentSlot();
}

void SetCurrentInstance(std::shared_ptr<Instance> instance) {
  std::shared_ptr<Instance> old;
  {
    std::lock_guard<std::mutex> lock(CurrentLock());
    old = std::exchange(CurrentSlot(), std::move(instance));
  }
  // The old one may be freed here, outside the lock.
}

}  // namespace pb
