// paths.cc: file-name surgery on full paths (drive, directory, stem, extension).
#include <string>

#include "platform/platform.h"

namespace pb::platform {
namespace {

// Index just past the directory part of path (after its last separator, or a drive's colon).
size_t FileNameStart(const std::string& path) {
  const char sep = PathSeparator();
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == sep || path[i] == '/' || (sep == '\\' && path[i] == ':')) start = i + 1;
  }
  return start;
}

}  // namespace

std::string ReplaceFileName(const std::string& path, const std::string& file_name) {
  return path.substr(0, FileNameStart(path)) + file_name;
}

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
  const size_t name = FileNameStart(path);
  const size_t dot = path.rfind('.');
  const std::string stem = (dot == std::string::npos || dot < name) ? path : path.substr(0, dot);
  return stem + "." + extension;
}

}  // namespace pb::platform
