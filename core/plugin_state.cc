// plugin_state.cc: the plug-in state record.
#include "core/plugin_state.h"

namespace pb {

PluginState g_stOrgData;

EntryCommandBuffer BuildEntryCommand(int32_t command, int32_t argument, const PluginState& state) {
  return BuildEntryCommand(command, argument, state.nickname, state.group, state.logonUser,
                           state.computerName, state.domainKey);
}

}  // namespace pb
