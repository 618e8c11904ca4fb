// plugin_module.h: loading a plug-in file and finding its exports, one backend per platform.
#ifndef PEERBEACON_HOST_PLUGIN_MODULE_H_
#define PEERBEACON_HOST_PLUGIN_MODULE_H_

#include <memory>
#include <string>

namespace pbhost {

// A loaded plug-in module; unloading happens when the object is destroyed, so it must outlive
// every call into the plug-in (after UnInitializeNetEx has returned).
class PluginModule {
 public:
  // Loads the file at `path`; null with a readable reason in *error when it cannot be loaded.
  static std::unique_ptr<PluginModule> Open(const std::string& path, std::string* error);
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // The address of the export with this undecorated name, or null.
  void* Find(const char* name) const;

 private:
  explicit PluginModule(void* handle) : handle_(handle) {}
  void* handle_;
};

// The directory of the running executable with a trailing separator, or "" when unknown.
std::string ExecutableDirectory();

}  // namespace pbhost

#endif  // PEERBEACON_HOST_PLUGIN_MODULE_H_
