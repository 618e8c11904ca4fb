// plugin_api.cc: binding the plug-in's exports by name.
#include "host/plugin_api.h"

#include "host/plugin_module.h"

namespace pbhost {
namespace {

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
  Bind(module, "NetExSpecification", &api.NetExSpecification, &api);
  Bind(module, "InitializeNetEx", &api.InitializeNetEx, &api);
  Bind(module, "UnInitializeNetEx", &api.UnInitializeNetEx, &api);
  Bind(module, "GetNxlStatus", &api.GetNxlStatus, &api);
  Bind(module, "NetExConfigure", &api.NetExConfigure, &api);
  Bind(module, "NetExAbout", &api.NetExAbout, &api);
  Bind(module, "StartEntry", &api.StartEntry, &api);
  Bind(module, "StartEntryEx", &api.StartEntryEx, &api);
  Bind(module, "AbsenceEntry", &api.AbsenceEntry, &api);
  Bind(module, "ExitEntry", &api.ExitEntry, &api);
  Bind(module, "LockEntryList", &api.LockEntryList, &api);
  Bind(module, "UnlockEntryList", &api.UnlockEntryList, &api);
  Bind(module, "GetEntryCount", &api.GetEntryCount, &api);
  Bind(module, "GetEntryData", &api.GetEntryData, &api);
  Bind(module, "GetGroupCount", &api.GetGroupCount, &api);
  Bind(module, "GetGroupData", &api.GetGroupData, &api);
  Bind(module, "CompareEntryData", &api.CompareEntryData, &api);
  Bind(module, "GetEntryInfo", &api.GetEntryInfo, &api);
  Bind(module, "SendMemoData", &api.SendMemoData, &api);
  Bind(module, "SendResultData", &api.SendResultData, &api);
  Bind(module, "GetErrorMsg", &api.GetErrorMsg, &api);
  Bind(module, "InputEntry", &api.InputEntry, &api);
  return api;
}

}  // namespace pbhost
