// profile_win32.cc: the private-profile (INI) functions of the Windows build, on the system's own.
#include <windows.h>
// windows.h maps these names to the system's win.ini functions; ours are the platform API.
#undef GetProfileString
#undef GetProfileInt
#undef WriteProfileString

#include "platform/platform.h"

namespace pb::platform {
namespace {

// The default as the system hands it back: without its trailing blanks, cut to the buffer.
uint32_t CopyDefault(const char* default_value, char* buffer, uint32_t size) {
  const char* text = default_value != nullptr ? default_value : "";
  uint32_t n = static_cast<uint32_t>(lstrlenA(text));
  while (n > 0 && text[n - 1] == ' ') --n;
  if (n > size - 1) n = size - 1;
  CopyMemory(buffer, text, n);
  buffer[n] = '\0';
  return n;
}

}  // namespace

// Null names would ask the system for lists of sections or keys, and a null path for win.ini;
// neither is a value, so those calls give the default as the Linux build does.

uint32_t GetProfileString(const char* section, const char* key, const char* default_value,
                          char* buffer, uint32_t size, const char* path) {
  if (buffer == nullptr || size == 0) return 0;
  if (section == nullptr || key == nullptr || path == nullptr) {
    return CopyDefault(default_value, buffer, size);
  }
  return GetPrivateProfileStringA(section, key, default_value != nullptr ? default_value : "",
                                  buffer, size, path);
}

int32_t GetProfileInt(const char* section, const char* key, int32_t default_value,
                      const char* path) {
  if (section == nullptr || key == nullptr || path == nullptr) return default_value;
  return static_cast<int32_t>(GetPrivateProfileIntA(section, key, default_value, path));
}

bool WriteProfileString(const char* section, const char* key, const char* value, const char* path) {
  if (section == nullptr || path == nullptr) return false;
  return WritePrivateProfileStringA(section, key, value, path) != FALSE;
}

}  // namespace pb::platform
