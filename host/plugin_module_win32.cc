// plugin_module_win32.cc: plug-in loading with LoadLibraryA for the Windows build.
#include <windows.h>

#include "host/plugin_module.h"

namespace pbhost {

std::unique_ptr<PluginModule> PluginModule::Open(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    const DWORD code = GetLastError();
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text - 1, nullptr);
    std::string reason = text;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    *error = "LoadLibrary error " + std::to_string(code) + (reason.empty() ? "" : ": " + reason);
    return nullptr;
  }
  return std::unique_ptr<PluginModule>(new PluginModule(module));
}

PluginModule::~PluginModule() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* PluginModule::Find(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string ExecutableDirectory() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return "";
  std::string path(buffer, n);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

}  // namespace pbhost
