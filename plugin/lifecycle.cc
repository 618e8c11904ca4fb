// lifecycle.cc: InitializeNetEx's fixed start-up order, the bounded shutdown and the status.
#include "plugin/lifecycle.h"

#include <cstring>
#include <mutex>
#include <new>

#include "core/plugin_state.h"
#include "core/settings.h"
#include "core/workers.h"
#include "net/socket_events.h"
#include "platform/platform.h"
#include "services/memo_receiver.h"
#include "services/presence_receiver.h"
#include "store/entry_list.h"
#include "store/group_table.h"

namespace pb {
namespace {

// Start-up and shutdown of the state never overlap, whichever host threads call them.
std::mutex& LifecycleLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

// The stop event's owner. Host threads in a memo exchange take a reference while start-up and
// shutdown replace it, so it is read and written only under its own lock.
std::mutex& StopOwnerLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}
std::shared_ptr<platform::UniqueHandle> g_stop_owner;

void SetStopOwner(std::shared_ptr<platform::UniqueHandle> owner) {
  std::lock_guard<std::mutex> lock(StopOwnerLock());
  g_stop_owner = std::move(owner);
}

void FreeString(char*& s) {
  delete[] s;
  s = nullptr;
}

// Frees everything start-up made. Called with no worker left that could touch the state, or
// after the bounded wait for them has run out.
void TearDown(PluginState* s) {
  s->initialized.store(0);
  s->started.store(0);
  s->listening.store(0);
  s->presenceReady.store(0);
  s->stopEvent = nullptr;
  SetStopOwner(nullptr);
  s->groupAddress = 0;
  s->interfaceAddress.store(0);
  s->port = 0;
  s->ttl = 0;
  s->absence.store(0);
  s->memoCallback = nullptr;
  if (s->entryList != nullptr) {
    EntryList::Destroy(s->entryList);
    s->entryList = nullptr;
  }
  if (s->peerGroups != nullptr) {
    s->peerGroups->Clear();
    delete s->peerGroups;
    s->peerGroups = nullptr;
  }
  if (s->nodeListGroups != nullptr) {
    delete s->nodeListGroups;
    s->nodeListGroups = nullptr;
  }
  FreeString(s->hostText);
  FreeString(s->nickname);
  FreeString(s->group);
  FreeString(s->logonUser);
  FreeString(s->computerName);
}

// Sets the stop event and waits, within the bound, for every worker to end.
void StopWorkers(PluginState* s) {
  if (s->stopEvent != nullptr) platform::SetEventObject(s->stopEvent);
  Workers().WaitIdle(kShutdownBoundMs);
}

// Starts one worker and waits up to a second for its start-up signal. False when the
// thread cannot be started.
bool StartWorkerAndWait(platform::ThreadProc proc) {
  auto startup = std::make_shared<platform::UniqueHandle>(
      platform::CreateEventObject(/*manual_reset=*/true, /*initially_set=*/false));
  auto* record = new (std::nothrow) WorkerStartup{startup, StopEventOwner()};
  if (record == nullptr) return false;
  if (!StartWorker(proc, record)) {
    delete record;
    return false;
  }
  // A time-out is not a failure: GetNxlStatus tells the host which worker is missing.
  if (*startup) {
    platform::Handle event = startup->get();
    platform::WaitForObjects(1, &event, kStartupWaitMs);
  }
  return true;
}

int32_t Fail(PluginState* s) {
  StopWorkers(s);
  TearDown(s);
  return 0;
}

}  // namespace

std::shared_ptr<platform::UniqueHandle> StopEventOwner() {
  std::lock_guard<std::mutex> lock(StopOwnerLock());
  return g_stop_owner;
}

int32_t Specification(void* record) {
  if (record == nullptr) return 0;
  auto* bytes = static_cast<unsigned char*>(record);
  auto put32 = [bytes](size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  put32(0, 256);
  put32(4, 256);
  memcpy(bytes + 8, "Peerbeacon", sizeof "Peerbeacon");
  put32(58, 2);
  put32(62, 79);
  return 1;
}

int32_t Initialize(PB_HWND window, const char* text, MemoReceiveCallback callback) {
  OpenSocketEvents(window);
  std::lock_guard<std::mutex> lock(LifecycleLock());
  PluginState* s = &g_stOrgData;
  if (s->initialized.load() != 0) return 0;
  s->absence.store(0);
  auto stop_owner = std::make_shared<platform::UniqueHandle>(
      platform::CreateEventObject(/*manual_reset=*/true, /*initially_set=*/false));
  s->stopEvent = stop_owner->get();
  SetStopOwner(std::move(stop_owner));
  if (s->stopEvent == nullptr) return Fail(s);
  s->memoCallback = callback;
  s->entryList = EntryList::Create();
  if (s->entryList == nullptr) return Fail(s);
  s->peerGroups = new (std::nothrow) GroupTable;
  if (s->peerGroups == nullptr) return Fail(s);
  s->nodeListGroups = nullptr;
  s->hostText = DuplicateString(text);
  if (s->hostText == nullptr) return Fail(s);
  const std::string user = UserSectionName();
  s->logonUser = DuplicateString(user.c_str());
  if (s->logonUser == nullptr) return Fail(s);
  std::string computer;
  if (!platform::ComputerName(&computer)) computer = kAnonymous;
  s->computerName = DuplicateString(computer.c_str());
  if (s->computerName == nullptr) return Fail(s);

  Settings settings;
  if (ReadSettings(FindSettingsFile(), user, &settings) != SettingsResult::kOk) return Fail(s);
  if (ApplySettings(settings, s) != SettingsResult::kOk) return Fail(s);

  s->initialized.store(1);
  // Set before the receiver starts, so that a receiver giving up during the start-up wait
  // clears it for good.
  s->presenceReady.store(1);
  if (!StartWorkerAndWait(&EntryControlThread)) return Fail(s);
  if (!StartWorkerAndWait(&ListenThread)) return Fail(s);
  s->started.store(1);
  return 1;
}

int32_t UnInitialize() {
  CloseSocketEvents();
  std::lock_guard<std::mutex> lock(LifecycleLock());
  PluginState* s = &g_stOrgData;
  if (s->initialized.load() == 0) return 0;
  StopWorkers(s);
  TearDown(s);
  return 1;
}

int32_t NxlStatus() {
  const PluginState& s = g_stOrgData;
  if (s.initialized.load() == 0 || s.started.load() == 0) return 0;
  int32_t status = PB_STATUS_RUNNING;
  if (s.listening.load() != 0) status |= PB_STATUS_LISTENING;
  if (s.presenceReady.load() != 0) status |= PB_STATUS_PRESENCE;
  return status;
}

}  // namespace pb
