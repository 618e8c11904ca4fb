// profile_win32.cc: the private-profile (INI) functions of the Windows build, on the system's own.
#include <windows.h>
// windows.h maps these names to the system's win.ini functions; ours are the platform API.
#undef GetProfileString
#undef GetProfileInt
#undef WriteProfileString
#undef GetProfileSection

#include <string>
#include <string_view>
#include <vector>

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

// A value as the lookups return it: one surrounding pair of matching quotes dropped. The
// system's section listing gives values as they stand in the file.
std::string_view Unquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

// Names without their surrounding blanks, as the lookups take them.
std::string TrimBlanks(const char* text) {
  std::string_view name(text);
  const size_t first = name.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::string();
  return std::string(name.substr(first, name.find_last_not_of(" \t\r\n") - first + 1));
}

std::wstring Wide(const char* text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 1) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n);
  wide.resize(static_cast<size_t>(n - 1));
  return wide;
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

bool GetProfileSection(const char* section, const char* path, std::vector<ProfileEntry>* entries) {
  entries->clear();
  if (section == nullptr || path == nullptr) return false;
  // The system answers an unreadable file like a missing section; a missing file is told apart.
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  // The listing is "key=value" strings, each NUL-terminated, and one more NUL; a listing that
  // does not fit comes back cut with the length size - 2, so the buffer grows until it fits.
  // Unlike the lookups, the system's listing takes the section name as it stands.
  const std::string name = TrimBlanks(section);
  std::vector<char> buffer(32 * 1024);
  DWORD n = 0;
  for (;;) {
    n = GetPrivateProfileSectionA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                  path);
    if (n + 2 < buffer.size()) break;
    if (buffer.size() >= (64u << 20)) return false;
    buffer.resize(buffer.size() * 2);
  }
  size_t start = 0;
  while (start < n) {
    const std::string_view line(buffer.data() + start);
    start += line.size() + 1;
    // A line without '=' names no value, as a lookup of it finds none.
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    entries->push_back(
        ProfileEntry{std::string(line.substr(0, eq)), std::string(Unquoted(line.substr(eq + 1)))});
  }
  return true;
}

// The system compares names as UTF-16 without regard to case, one character at a time (comparing
// the 8-bit bytes instead would fold trail bytes of double-byte characters), and the asked name
// without its surrounding blanks.
bool ProfileKeyMatches(const std::string& found, const char* asked) {
  if (asked == nullptr) return false;
  const std::wstring a = Wide(found.c_str()), b = Wide(TrimBlanks(asked).c_str());
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace pb::platform
