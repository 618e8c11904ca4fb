// plugin_module_posix.cc: plug-in loading with dlopen for the Linux build.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "host/plugin_module.h"

namespace pbhost {

std::unique_ptr<PluginModule> PluginModule::Open(const std::string& path, std::string* error) {
  // A path without a slash would make dlopen search the library path instead of the file.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : "dlopen failed";
    return nullptr;
  }
  return std::unique_ptr<PluginModule>(new PluginModule(handle));
}

PluginModule::~PluginModule() { dlclose(handle_); }

void* PluginModule::Find(const char* name) const { return dlsym(handle_, name); }

std::string ExecutableDirectory() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

}  // namespace pbhost
