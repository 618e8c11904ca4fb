// system_win32.cc: identity, paths, file search, file access and host memory on Win32.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace pb::platform {
namespace {

// A directory-returning call's result: empty when it failed or did not fit the buffer.
std::string FromBuffer(const char* buffer, UINT length, UINT capacity) {
  if (length == 0 || length >= capacity) return std::string();
  return std::string(buffer, length);
}

std::string DirectoryOf(const std::string& path) {
  const size_t sep = path.find_last_of("\\/");
  return sep == std::string::npos ? std::string() : path.substr(0, sep);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  const char last = dir.back();
  return (last == '\\' || last == '/') ? dir + name : dir + "\\" + name;
}

bool IsExistingFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The directories that OpenFile searches, in its order.
std::vector<std::string> OpenFileDirectories() {
  std::vector<std::string> dirs;
  dirs.push_back(DirectoryOf(ExecutablePath()));
  char cwd[MAX_PATH];
  dirs.push_back(FromBuffer(cwd, GetCurrentDirectoryA(MAX_PATH, cwd), MAX_PATH));
  dirs.push_back(SystemDirectory());
  dirs.push_back(WindowsDirectory());
  char small[1];
  const DWORD needed = GetEnvironmentVariableA("PATH", small, 0);
  if (needed > 0) {
    std::vector<char> all(needed);
    const DWORD n = GetEnvironmentVariableA("PATH", all.data(), needed);
    if (n > 0 && n < needed) {
      const std::string text(all.data(), n);
      size_t start = 0;
      while (start <= text.size()) {
        size_t semicolon = text.find(';', start);
        if (semicolon == std::string::npos) semicolon = text.size();
        dirs.push_back(text.substr(start, semicolon - start));
        start = semicolon + 1;
      }
    }
  }
  return dirs;
}

}  // namespace

char PathSeparator() { return '\\'; }

void* ModuleInstance() {
  HMODULE module = nullptr;
  // The module that holds this code: the plug-in when linked into it, the program otherwise.
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&ModuleInstance), &module)) {
    return nullptr;
  }
  return module;
}

std::string ModulePath() {
  HMODULE module = static_cast<HMODULE>(ModuleInstance());
  if (module == nullptr) return std::string();
  char buffer[kMaxPath];
  return FromBuffer(buffer, GetModuleFileNameA(module, buffer, kMaxPath), kMaxPath);
}

std::string ExecutablePath() {
  char buffer[kMaxPath];
  return FromBuffer(buffer, GetModuleFileNameA(nullptr, buffer, kMaxPath), kMaxPath);
}

std::string WindowsDirectory() {
  char buffer[kMaxPath];
  return FromBuffer(buffer, GetWindowsDirectoryA(buffer, kMaxPath), kMaxPath);
}

std::string SystemDirectory() {
  char buffer[kMaxPath];
  return FromBuffer(buffer, GetSystemDirectoryA(buffer, kMaxPath), kMaxPath);
}

std::string SettingsPathForWriting(const std::string& file_name) {
  return ReplaceFileName(ExecutablePath(), file_name);
}

bool OpenFileSearch(const std::string& file_name, std::string* full_path) {
  if (file_name.empty()) return false;
  OFSTRUCT found{};
  found.cBytes = sizeof found;
  if (OpenFile(file_name.c_str(), &found, OF_EXIST) != HFILE_ERROR) {
    *full_path = found.szPathName;
    return true;
  }
  // OpenFile cannot report a path of OFS_MAXPATHNAME characters or more and fails instead;
  // the same search by hand still finds such a file, up to the usual path limit.
  for (const std::string& dir : OpenFileDirectories()) {
    if (dir.empty()) continue;
    const std::string candidate = JoinPath(dir, file_name);
    if (!IsExistingFile(candidate)) continue;
    char buffer[kMaxPath];
    const std::string full = FromBuffer(
        buffer, GetFullPathNameA(candidate.c_str(), kMaxPath, buffer, nullptr), kMaxPath);
    if (full.empty()) continue;
    *full_path = full;
    return true;
  }
  return false;
}

bool SearchPathFile(const std::string& file_name, std::string* full_path) {
  if (file_name.empty()) return false;
  char buffer[kMaxPath];
  const std::string found = FromBuffer(
      buffer, SearchPathA(nullptr, file_name.c_str(), nullptr, kMaxPath, buffer, nullptr),
      kMaxPath);
  if (found.empty()) return false;
  *full_path = found;
  return true;
}

bool FileExists(const std::string& path) {
  if (path.empty() || path.find_first_of("*?") != std::string::npos) return false;
  // Asked by path, without opening the file: under Wine this stays inside the process, where
  // a find or an open costs round trips to the Wine server on every host read.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool GetFileIdentity(const std::string& path, FileIdentity* identity) {
  // By path, for the same reason as FileExists, and without colliding with a writer's sharing.
  // Size, last write and creation time tell an edited or replaced file; a replacement with the
  // very same size and write time (to the 100 ns) would pass unnoticed, which a file written
  // anew cannot have.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  identity->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  identity->modified = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                       data.ftLastWriteTime.dwLowDateTime;
  identity->file_index = (static_cast<uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) |
                         data.ftCreationTime.dwLowDateTime;
  identity->volume = 0;
  return true;
}

bool AppendToFile(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER ||
            GetLastError() == NO_ERROR;
  size_t done = 0;
  while (ok && done < text.size()) {
    const size_t left = text.size() - done;
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file, text.data() + done, chunk, &written, nullptr) || written == 0) {
      ok = false;
    }
    done += written;
  }
  CloseHandle(file);
  return ok;
}

ReadOnlyFileView::~ReadOnlyFileView() { Close(); }

void ReadOnlyFileView::Close() {
  if (data_ != nullptr) UnmapViewOfFile(data_);
  if (mapping_ != 0) CloseHandle(reinterpret_cast<HANDLE>(mapping_));
  if (file_ != -1) CloseHandle(reinterpret_cast<HANDLE>(file_));
  data_ = nullptr;
  size_ = 0;
  mapping_ = 0;
  file_ = -1;
}

bool ReadOnlyFileView::Open(const std::string& path) {
  Close();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  file_ = reinterpret_cast<intptr_t>(file);
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  // An empty file has no mapping; anything beyond 32 bits cannot be viewed in this process.
  if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 || low == 0) {
    Close();
    return false;
  }
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) {
    Close();
    return false;
  }
  mapping_ = reinterpret_cast<intptr_t>(mapping);
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) {
    Close();
    return false;
  }
  data_ = static_cast<const unsigned char*>(view);
  size_ = low;
  return true;
}

bool LogonUserName(std::string* name) {
  char buffer[257];
  DWORD size = sizeof buffer;
  if (!GetUserNameA(buffer, &size) || buffer[0] == '\0') return false;
  *name = buffer;
  return true;
}

bool ComputerName(std::string* name) {
  char buffer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof buffer;
  if (!GetComputerNameA(buffer, &size) || buffer[0] == '\0') return false;
  *name = buffer;
  return true;
}

uint32_t SystemCodePage() { return GetACP(); }

// A zero-byte movable block would be allocated discarded and could not be locked.
void* GlobalAllocZeroed(size_t size) {
  return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size == 0 ? 1 : size);
}

void* GlobalLockBlock(void* handle) { return handle != nullptr ? GlobalLock(handle) : nullptr; }

void GlobalUnlockBlock(void* handle) {
  if (handle != nullptr) GlobalUnlock(handle);
}

void GlobalFreeBlock(void* handle) {
  if (handle != nullptr) GlobalFree(handle);
}

}  // namespace pb::platform
