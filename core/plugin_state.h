// plugin_state.h: g_stOrgData, the global record that shows the running instance: its flags,
// settings, identity strings, lists, stop event and the host's callback.
#ifndef PEERBEACON_CORE_PLUGIN_STATE_H_
#define PEERBEACON_CORE_PLUGIN_STATE_H_

#include <atomic>
#include <cstdint>

#include "peerbeacon.h"
#include "platform/platform.h"

namespace pb {

class EntryList;
class GroupTable;

// Fields in their documented order. The flags and the values written after start-up
// (absence, interfaceAddress, presenceReady, listening) are single 32-bit atomics: one store
// by their writer, read without a lock by everyone else. The pointers are a view: they point
// into the running instance (store/instance.h), which owns what they show, and are cleared
// when it stops. Threads of the plug-in reach the objects through their own instance.
struct PluginState {
  std::atomic<int32_t> initialized{0};
  std::atomic<int32_t> started{0};
  std::atomic<int32_t> listening{0};
  std::atomic<int32_t> presenceReady{0};
  platform::Handle stopEvent = nullptr;
  uint32_t groupAddress = 0;                  // network order
  std::atomic<uint32_t> interfaceAddress{0};  // network order
  uint32_t port = 0;                          // network order in the low 16 bits
  int32_t ttl = 0;
  uint32_t domainKey = 0;
  int32_t checkFrom = 0;
  std::atomic<int32_t> absence{0};
  int32_t seedType = 0;
  MemoReceiveCallback memoCallback = nullptr;
  EntryList* entryList = nullptr;
  GroupTable* peerGroups = nullptr;
  GroupTable* nodeListGroups = nullptr;
  const char* hostText = nullptr;
  const char* nickname = nullptr;
  const char* group = nullptr;
  const char* logonUser = nullptr;
  const char* computerName = nullptr;
};

extern PluginState g_stOrgData;

}  // namespace pb

#endif  // PEERBEACON_CORE_PLUGIN_STATE_H_
