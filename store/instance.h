// instance.h: Instance, one start of the plug-in: everything start-up makes, owned in one place
// and shared with the threads that use it, and the record g_stOrgData as its view.
#ifndef PEERBEACON_STORE_INSTANCE_H_
#define PEERBEACON_STORE_INSTANCE_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/plugin_state.h"
#include "core/settings.h"
#include "peerbeacon.h"
#include "platform/platform.h"
#include "store/entry_list.h"
#include "store/group_table.h"
#include "wire/entry_command.h"

namespace pb {

struct HostReadSession;  // the host view's state for one lock period, opaque here

// Owns the entry list, the peer-group table, the identity strings, the settings and the stop
// event of one start. Start-up fills it before any thread sees it; after that only the lists
// change (under the entry-list lock). Every worker and connection thread holds a shared
// reference, so whatever outlives the bounded shutdown wait still reads live memory: the last
// holder frees it.
class Instance {
 public:
  // Null when the list, the table or the stop event cannot be made.
  static std::shared_ptr<Instance> Create();
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  EntryList& entries() const { return *entries_; }
  GroupTable& peer_groups() const { return *peer_groups_; }
  platform::Handle stop_event() const { return stop_event_.get(); }
  // Sets the stop event: every wait of this start's threads ends.
  void Stop() const;
  bool StopRequested() const;

  // Filled by start-up before the first thread starts, constant afterwards.
  Settings settings;
  std::string host_text;
  std::string logon_user;
  std::string computer_name;
  MemoReceiveCallback memo_callback = nullptr;
  // The node-list group table, built by the host's LockEntryList and dropped by its
  // UnlockEntryList; touched only by the thread that holds the entry-list lock.
  std::unique_ptr<GroupTable> node_list_groups;
  // What the host view keeps of the node-list file between the host's lock periods; touched
  // only by the thread that holds the entry-list lock.
  std::shared_ptr<HostReadSession> host_read_session;

  // The entry command with this start's identity: nickname, group, logon user, computer name
  // and domain key. Empty when memory fails.
  EntryCommandBuffer OwnEntryCommand(int32_t command, int32_t argument) const;

  // Points the record's fields at this instance's objects and copies the settings into it.
  void AttachView(PluginState* state) const;

  // Runs write (which stores into the record's flags) only while this instance is the one the
  // record shows, so a thread of an earlier start that outlived its shutdown never changes the
  // status of the next one. Retire ends that for good.
  template <typename Write>
  void Publish(Write write) {
    std::lock_guard<std::mutex> lock(publish_lock_);
    if (!retired_) write();
  }
  void Retire();

  // Instances alive in the process (running or still held by a late thread), for tests.
  static int32_t LiveCount();

 private:
  Instance();
  struct DestroyEntryList {
    void operator()(EntryList* list) const { EntryList::Destroy(list); }
  };
  std::unique_ptr<EntryList, DestroyEntryList> entries_;
  std::unique_ptr<GroupTable> peer_groups_;
  platform::UniqueHandle stop_event_;
  std::mutex publish_lock_;
  bool retired_ = false;
};

// The instance that the exports and the host's calls work on; null while the plug-in is
// stopped. Start-up and shutdown set it; a caller keeps what it got alive for its call.
std::shared_ptr<Instance> CurrentInstance();
void SetCurrentInstance(std::shared_ptr<Instance> instance);

// What start-up hands each worker thread (which deletes it): a start-up event of the worker's
// own, shared so that a late signal after the starter stopped waiting still reaches a valid
// event and can never be taken for another worker's, and the worker's instance.
struct WorkerStartup {
  std::shared_ptr<platform::UniqueHandle> startupEvent;
  std::shared_ptr<Instance> instance;
  void SignalStarted() const {
    if (startupEvent) platform::SetEventObject(startupEvent->get());
  }
};

}  // namespace pb

#endif  // PEERBEACON_STORE_INSTANCE_H_
