// plugin_state.cc: the single plug-in state record and the string copies it owns.
#include "core/plugin_state.h"

#include <cstring>
#include <new>

namespace pb {

PluginState g_stOrgData;

char* DuplicateString(const char* text) {
  if (text == nullptr) text = "";
  const size_t n = strlen(text) + 1;
  char* copy = new (std::nothrow) char[n];
  if (copy != nullptr) memcpy(copy, text, n);
  return copy;
}

EntryCommandBuffer BuildEntryCommand(int32_t command, int32_t argument, const PluginState& state) {
  return BuildEntryCommand(command, argument, state.nickname, state.group, state.logonUser,
                           state.computerName, state.domainKey);
}

}  // namespace pb
