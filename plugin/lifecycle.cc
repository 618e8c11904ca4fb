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
#include "store/instance.h"
#include "wire/memo_frame.h"

namespace pb {
namespace {

// Start-up and shutdown of the state never overlap, whichever host threads call them.
std::mutex& LifecycleLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

// Ends the record's view of instance and drops the start-up's reference. Called with no worker
// left that could touch the state, or after the bounded wait for them has run out: a thread
// still running holds its own reference, so what it uses stays alive until it ends.
void TearDown(PluginState* s, std::shared_ptr<Instance> instance) {
  // From here on no late thread of this instance changes the flags of the next one.
  if (instance) instance->Retire();
  s->initialized.store(0);
  s->started.store(0);
  s->listening.store(0);
  s->presenceReady.store(0);
  SetCurrentInstance(nullptr);
  s->nodeListGroups = nullptr;  // the table, if the host left one, goes with its instance
  s->stopEvent = nullptr;
  s->groupAddress = 0;
  s->interfaceAddress.store(0);
  s->port = 0;
  s->ttl = 0;
  s->absence.store(0);
  s->memoCallback = nullptr;
  s->entryList = nullptr;
  s->peerGroups = nullptr;
  s->hostText = nullptr;
  s->nickname = nullptr;
  s->group = nullptr;
  s->logonUser = nullptr;
  s->computerName = nullptr;
}

// Sets the stop event and waits, within the bound, for every worker to end.
void StopWorkers(const Instance* instance) {
  if (instance != nullptr) instance->Stop();
  Workers().WaitIdle(kShutdownBoundMs);
}

// Starts one worker on instance and waits up to a second for its start-up signal. False when
// the thread cannot be started.
bool StartWorkerAndWait(platform::ThreadProc proc, const std::shared_ptr<Instance>& instance) {
  std::shared_ptr<platform::UniqueHandle> startup;
  try {
    startup = std::make_shared<platform::UniqueHandle>(
        platform::CreateEventObject(/*manual_reset=*/true, /*initially_set=*/false));
  } catch (const std::bad_alloc&) {
    return false;
  }
  auto* record = new (std::nothrow) WorkerStartup{startup, instance};
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

int32_t Fail(PluginState* s, std::shared_ptr<Instance> instance) {
  StopWorkers(instance.get());
  TearDown(s, std::move(instance));
  return 0;
}

// Makes the instance of one start and fills it from the system and the settings file; null
// when memory, an event or the settings file's group address fail.
std::shared_ptr<Instance> MakeInstance(const char* text, MemoReceiveCallback callback) {
  std::shared_ptr<Instance> instance = Instance::Create();
  if (!instance) return nullptr;
  try {
    instance->memo_callback = callback;
    instance->host_text = text != nullptr ? text : "";
    instance->logon_user = UserSectionName();
    if (!platform::ComputerName(&instance->computer_name)) instance->computer_name = kAnonymous;
    if (ReadSettings(FindSettingsFile(), instance->logon_user, &instance->settings) !=
        SettingsResult::kOk) {
      return nullptr;
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return instance;
}

}  // namespace

int32_t HostNetExSpecification(void* record) {
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

int32_t HostInitializeNetEx(PB_HWND window, const char* text, MemoReceiveCallback callback) {
  OpenSocketEvents(window);
  std::lock_guard<std::mutex> lock(LifecycleLock());
  PluginState* s = &g_stOrgData;
  if (s->initialized.load() != 0) return 0;
  s->absence.store(0);
  std::shared_ptr<Instance> instance = MakeInstance(text, callback);
  if (!instance) return Fail(s, nullptr);
  instance->AttachView(s);
  SetCurrentInstance(instance);

  s->initialized.store(1);
  // Set before the receiver starts, so that a receiver giving up during the start-up wait
  // clears it for good.
  s->presenceReady.store(1);
  if (!StartWorkerAndWait(&EntryControlThread, instance)) return Fail(s, std::move(instance));
  if (!StartWorkerAndWait(&ListenThread, instance)) return Fail(s, std::move(instance));
  s->started.store(1);
  return 1;
}

int32_t HostUnInitializeNetEx() {
  CloseSocketEvents();
  std::lock_guard<std::mutex> lock(LifecycleLock());
  PluginState* s = &g_stOrgData;
  if (s->initialized.load() == 0) return 0;
  std::shared_ptr<Instance> instance = CurrentInstance();
  StopWorkers(instance.get());
  TearDown(s, std::move(instance));
  // A stopped plug-in keeps no memo buffer for a next memo.
  MemoFrameBuffer::ReleaseKept();
  return 1;
}

int32_t HostGetNxlStatus() {
  const PluginState& s = g_stOrgData;
  if (s.initialized.load() == 0 || s.started.load() == 0) return 0;
  int32_t status = PB_STATUS_RUNNING;
  if (s.listening.load() != 0) status |= PB_STATUS_LISTENING;
  if (s.presenceReady.load() != 0) status |= PB_STATUS_PRESENCE;
  return status;
}

}  // namespace pb
