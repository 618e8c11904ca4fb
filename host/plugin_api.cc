// plugin_api.cc: binding the plug-in's exports by name.
#include "host/plugin_api.h"

#include <algorithm>
#include <string_view>

#include "host/plugin_module.h"

namespace pbhost {
namespace {

// The modules' export lists were written from the build's text reading of the list
// (cmake/ExportList.cmake); it must find the names the compiler finds, in the same order.
constexpr std::string_view kNamesReadByBuild[] = {
#include "export_names.inc"
};
static_assert(std::ranges::equal(kNamesReadByBuild, kExportNames,
                                 [](std::string_view read, const char* compiled) {
                                   return read == compiled;
                                 }),
              "cmake/ExportList.cmake reads other names than PB_EXPORT_LIST holds");

template <typename Function>
void Bind(const PluginModule& module, const char* name, Function* slot, PluginApi* api) {
  void* address = module.Find(name);
  if (address == nullptr) {
    api->missing.insert(name);
  } else {
    *slot = reinterpret_cast<Function>(address);
  }
}

}  // namespace

PluginApi BindExports(const PluginModule& module) {
  PluginApi api;
#define PB_BIND(type, name, parameters) Bind(module, #name, &api.name, &api);
  PB_EXPORT_LIST(PB_BIND)
#undef PB_BIND
  return api;
}

}  // namespace pbhost
