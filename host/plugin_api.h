// plugin_api.h: the plug-in's exports as function pointers, bound by name at run time.
#ifndef PEERBEACON_HOST_PLUGIN_API_H_
#define PEERBEACON_HOST_PLUGIN_API_H_

#include <array>
#include <set>
#include <string>
#include <string_view>

#include "peerbeacon.h"

namespace pbhost {

class PluginModule;

#define PB_API_SLOT(type, name, parameters) decltype(&::name) name = nullptr;
#define PB_API_NAME(type, name, parameters) #name,

// The declarations in peerbeacon.h give each pointer its exact type and calling convention;
// the host never links against the plug-in.
struct PluginApi {
  PB_EXPORT_LIST(PB_API_SLOT)

  // Names of the exports that the module did not provide.
  std::set<std::string, std::less<>> missing;

  bool Has(std::string_view name) const { return !missing.contains(name); }
};

// Every export of the list, in its order.
inline constexpr std::array kExportNames{PB_EXPORT_LIST(PB_API_NAME)};

#undef PB_API_NAME
#undef PB_API_SLOT

// Looks up every export of kExportNames by its undecorated name. Pointers of missing exports
// stay null and their names land in api.missing.
PluginApi BindExports(const PluginModule& module);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_PLUGIN_API_H_
