// error_log.cc: appends one line per failure to the module's path with the extension "err".
#include "core/error_log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace pb {
namespace {

std::mutex& ErrorLogLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::atomic<platform::LocalTime (*)()> g_clock{nullptr};

}  // namespace

void SetErrorLogClock(platform::LocalTime (*clock)()) { g_clock.store(clock); }

std::string ErrorLogPath() {
  const std::string module = platform::ModulePath();
  if (module.empty()) return std::string();
  return platform::ReplaceExtension(module, "err");
}

void WriteErrorLog(const char* message, const char* reporter) {
  std::lock_guard<std::mutex> lock(ErrorLogLock());
  const std::string path = ErrorLogPath();
  if (path.empty()) return;
  auto clock = g_clock.load();
  const platform::LocalTime t = clock != nullptr ? clock() : platform::NowLocal();
  char prefix[64];
  snprintf(prefix, sizeof prefix, "[%02d/%02d %02d:%02d:%02d] - ", t.month, t.day, t.hour, t.minute,
           t.second);
  std::string line = prefix;
  line += message != nullptr ? message : "";
  line += " : ";
  line += reporter != nullptr ? reporter : "";
  line += "\r\n";
  // A line that cannot be written is lost; the reporter goes on either way.
  platform::AppendToFile(path, line);
}

void WriteErrorLogCode(const char* format, int error, const char* reporter) {
  char message[512];
  snprintf(message, sizeof message, format, error);
  WriteErrorLog(message, reporter);
}

}  // namespace pb
