// plugin_state.cc: the plug-in state record.
#include "core/plugin_state.h"

namespace pb {

PluginState g_stOrgData;

}  // namespace pb
