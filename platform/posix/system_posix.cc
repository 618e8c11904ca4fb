// system_posix.cc: identity, paths, file search, file access and host memory for the Linux build.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/platform.h"

namespace pb::platform {
namespace {

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string EnvOr(const char* name, const char* fallback) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : std::string(fallback);
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The first directory in dirs that holds file_name, as a full path.
bool SearchDirectories(const std::vector<std::string>& dirs, const std::string& file_name,
                       std::string* full_path) {
  if (file_name.empty()) return false;
  for (const std::string& dir : dirs) {
    if (dir.empty()) continue;
    std::string candidate = JoinPath(dir, file_name);
    if (!IsRegularFile(candidate)) continue;
    char resolved[PATH_MAX];
    if (realpath(candidate.c_str(), resolved) != nullptr) candidate = resolved;
    if (candidate.size() >= kMaxPath) continue;
    *full_path = candidate;
    return true;
  }
  return false;
}

std::vector<std::string> StandardSearchDirectories() {
  std::vector<std::string> dirs;
  dirs.push_back(DirectoryOf(ExecutablePath()));
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) != nullptr) dirs.emplace_back(cwd);
  dirs.push_back(SystemDirectory());
  dirs.push_back(WindowsDirectory());
  const char* path = getenv("PATH");
  if (path != nullptr) {
    std::string all(path);
    size_t start = 0;
    while (start <= all.size()) {
      size_t colon = all.find(':', start);
      if (colon == std::string::npos) colon = all.size();
      dirs.push_back(all.substr(start, colon - start));
      start = colon + 1;
    }
  }
  return dirs;
}

// Whether two stats of one file show the same contents: same size, last write and change.
bool SameContentStamp(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Reads fd from its start to its end as it is now (it may have shrunk or grown since size_hint
// was taken) into the malloc'ed block *bytes of *capacity bytes, which grows as needed. The
// byte count, or -1 on failure.
ssize_t ReadFromStart(int fd, size_t size_hint, unsigned char** bytes, size_t* capacity) {
  if (lseek(fd, 0, SEEK_SET) != 0) return -1;
  size_t size = 0;
  for (;;) {
    if (size == *capacity) {
      // One byte beyond the expected size, so that the end is seen without growing.
      const size_t wanted = size < size_hint ? size_hint + 1 : 2 * size + 4096;
      void* grown = realloc(*bytes, wanted);
      if (grown == nullptr) return -1;
      *bytes = static_cast<unsigned char*>(grown);
      *capacity = wanted;
    }
    const ssize_t n = read(fd, *bytes + size, *capacity - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) return static_cast<ssize_t>(size);
    size += static_cast<size_t>(n);
  }
}

}  // namespace

char PathSeparator() { return '/'; }

void* ModuleInstance() { return nullptr; }

namespace {

// A path in storage that needs no destructor: threads may still ask for it while the process
// ends, and a module that is unloaded leaves nothing behind.
struct PathText {
  char text[kMaxPath] = {};
};

// The module's path as the loader knows it (relative when the host loaded it by a relative
// path), made absolute against the directory current at that moment; empty when it cannot be
// had or is too long.
PathText ResolveModulePath() {
  PathText result;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ResolveModulePath), &info) == 0 ||
      info.dli_fname == nullptr) {
    return result;
  }
  std::string path = info.dli_fname;
  if (!path.empty() && path[0] != '/') {
    char resolved[PATH_MAX];
    char cwd[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) {
      path = resolved;
    } else if (getcwd(cwd, sizeof cwd) != nullptr) {
      path = JoinPath(cwd, path);
    }
  }
  if (path.size() < kMaxPath) memcpy(result.text, path.c_str(), path.size() + 1);
  return result;
}

const char* LoadedModulePath() {
  static const PathText path = ResolveModulePath();
  return path.text;
}

// Resolved while the module is being loaded: a host may change its current directory later,
// and a relative path would then name another folder.
[[maybe_unused]] const bool g_module_path_resolved = LoadedModulePath()[0] != '\0';

}  // namespace

std::string ModulePath() { return LoadedModulePath(); }

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

std::string WindowsDirectory() { return EnvOr("PEERBEACON_WINDOWS_DIR", "/etc/peerbeacon"); }

std::string SystemDirectory() { return EnvOr("PEERBEACON_SYSTEM_DIR", "/usr/share/peerbeacon"); }

std::string SettingsPathForWriting(const std::string& file_name) {
  const std::string executable = ExecutablePath();
  const std::string beside = ReplaceFileName(executable, file_name);
  const std::string folder = DirectoryOf(executable);
  if (executable.empty() || access(folder.empty() ? "/" : folder.c_str(), W_OK) == 0) {
    return beside;
  }
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return beside;
  return JoinPath(cwd, file_name);
}

bool OpenFileSearch(const std::string& file_name, std::string* full_path) {
  return SearchDirectories(StandardSearchDirectories(), file_name, full_path);
}

bool SearchPathFile(const std::string& file_name, std::string* full_path) {
  return SearchDirectories(StandardSearchDirectories(), file_name, full_path);
}

bool FileExists(const std::string& path) {
  if (path.empty() || path.find_first_of("*?") != std::string::npos) return false;
  return IsRegularFile(path);
}

bool GetFileIdentity(const std::string& path, FileIdentity* identity) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  identity->size = static_cast<uint64_t>(st.st_size);
  identity->modified = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                       static_cast<uint64_t>(st.st_mtim.tv_nsec);
  identity->file_index = static_cast<uint64_t>(st.st_ino);
  identity->volume = static_cast<uint64_t>(st.st_dev);
  return true;
}

bool AppendToFile(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_DSYNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  return ok;
}

ReadOnlyFileView::~ReadOnlyFileView() { Close(); }

void ReadOnlyFileView::Close() {
  free(const_cast<unsigned char*>(data_));
  data_ = nullptr;
  size_ = 0;
}

bool ReadOnlyFileView::Open(const std::string& path) {
  Close();
  // Non-blocking, so that a FIFO put in the file's place cannot stall the caller at open.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  constexpr int kReadTries = 3;
  unsigned char* bytes = nullptr;
  size_t capacity = 0;
  ssize_t size = -1;
  for (int attempt = 0; attempt < kReadTries; ++attempt) {
    struct stat before {};
    if (fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
      size = -1;
      break;
    }
    size = ReadFromStart(fd, static_cast<size_t>(before.st_size), &bytes, &capacity);
    // A writer's change during the read may have left a mix of old and new bytes.
    struct stat after {};
    if (size < 0 || fstat(fd, &after) != 0 || SameContentStamp(before, after)) break;
  }
  close(fd);
  if (size <= 0) {
    free(bytes);
    return false;
  }
  data_ = bytes;
  size_ = static_cast<size_t>(size);
  return true;
}

bool LogonUserName(std::string* name) {
  const uid_t uid = geteuid();
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* result = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) != 0 || result == nullptr ||
      result->pw_name == nullptr || result->pw_name[0] == '\0') {
    return false;
  }
  std::string value = result->pw_name;
  if (value.size() > 256) return false;
  *name = value;
  return true;
}

bool ComputerName(std::string* name) {
  char buffer[HOST_NAME_MAX + 1] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0') return false;
  std::string value = buffer;
  const size_t dot = value.find('.');
  if (dot != std::string::npos) value.resize(dot);
  // Windows hands the name over in a 16-character buffer: a longer one cannot be read.
  if (value.empty() || value.size() > 15) return false;
  *name = value;
  return true;
}

uint32_t SystemCodePage() { return 932; }

void* GlobalAllocZeroed(size_t size) { return calloc(size == 0 ? 1 : size, 1); }
void* GlobalLockBlock(void* handle) { return handle; }
void GlobalUnlockBlock(void*) {}
void GlobalFreeBlock(void* handle) { free(handle); }

}  // namespace pb::platform
