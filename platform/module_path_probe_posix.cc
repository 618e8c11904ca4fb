// module_path_probe_posix.cc: a small module that reports its own path, for the path tests.
#include <cstring>
#include <string>

#include "platform/platform.h"

// Copies the module path as ModulePath gives it inside this module (NUL-terminated, cut to
// size - 1 characters).
extern "C" __attribute__((visibility("default"))) void ProbeModulePath(char* buffer, size_t size) {
  const std::string path = pb::platform::ModulePath();
  const size_t n = path.size() < size - 1 ? path.size() : size - 1;
  std::memcpy(buffer, path.data(), n);
  buffer[n] = '\0';
}
