// plugin_api.h: the plug-in's 22 exports as function pointers, bound by name at run time.
#ifndef PEERBEACON_HOST_PLUGIN_API_H_
#define PEERBEACON_HOST_PLUGIN_API_H_

#include <array>
#include <set>
#include <string>
#include <string_view>

#include "peerbeacon.h"

namespace pbhost {

class PluginModule;

// The declarations in peerbeacon.h give each pointer its exact type and calling convention;
// the host never links against the plug-in.
struct PluginApi {
  decltype(&::NetExSpecification) NetExSpecification = nullptr;
  decltype(&::InitializeNetEx) InitializeNetEx = nullptr;
  decltype(&::UnInitializeNetEx) UnInitializeNetEx = nullptr;
  decltype(&::GetNxlStatus) GetNxlStatus = nullptr;
  decltype(&::NetExConfigure) NetExConfigure = nullptr;
  decltype(&::NetExAbout) NetExAbout = nullptr;
  decltype(&::StartEntry) StartEntry = nullptr;
  decltype(&::StartEntryEx) StartEntryEx = nullptr;
  decltype(&::AbsenceEntry) AbsenceEntry = nullptr;
  decltype(&::ExitEntry) ExitEntry = nullptr;
  decltype(&::LockEntryList) LockEntryList = nullptr;
  decltype(&::UnlockEntryList) UnlockEntryList = nullptr;
  decltype(&::GetEntryCount) GetEntryCount = nullptr;
  decltype(&::GetEntryData) GetEntryData = nullptr;
  decltype(&::GetGroupCount) GetGroupCount = nullptr;
  decltype(&::GetGroupData) GetGroupData = nullptr;
  decltype(&::CompareEntryData) CompareEntryData = nullptr;
  decltype(&::GetEntryInfo) GetEntryInfo = nullptr;
  decltype(&::SendMemoData) SendMemoData = nullptr;
  decltype(&::SendResultData) SendResultData = nullptr;
  decltype(&::GetErrorMsg) GetErrorMsg = nullptr;
  decltype(&::InputEntry) InputEntry = nullptr;

  // Names of the exports that the module did not provide.
  std::set<std::string, std::less<>> missing;

  bool Has(std::string_view name) const { return !missing.contains(name); }
};

inline constexpr std::array<const char*, 22> kExportNames = {
    "NetExSpecification", "InitializeNetEx",  "UnInitializeNetEx", "GetNxlStatus", "NetExConfigure",
    "NetExAbout",         "StartEntry",       "StartEntryEx",      "AbsenceEntry", "ExitEntry",
    "LockEntryList",      "UnlockEntryList",  "GetEntryCount",     "GetEntryData", "GetGroupCount",
    "GetGroupData",       "CompareEntryData", "GetEntryInfo",      "SendMemoData", "SendResultData",
    "GetErrorMsg",        "InputEntry"};

// Looks up every export of kExportNames by its undecorated name. Pointers of missing exports
// stay null and their names land in api.missing.
PluginApi BindExports(const PluginModule& module);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_PLUGIN_API_H_
