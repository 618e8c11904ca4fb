// error_log_sharing_win32_test.cc: a log held open by another program without write sharing
// loses its line and the reporter goes on; the next line after the release is appended.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/error_log.h"

namespace pb {
namespace {

platform::LocalTime Fixed() { return platform::LocalTime{1, 2, 3, 4, 5}; }

TEST(ErrorLogSharingTest, ALockedLogLosesTheLineAndTheReporterGoesOn) {
  const std::string path = ErrorLogPath();
  std::remove(path.c_str());
  SetErrorLogClock(&Fixed);
  HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  WriteErrorLog("lost while locked", "ListenThread");
  CloseHandle(holder);
  WriteErrorLog("written after", "ListenThread");
  SetErrorLogClock(nullptr);
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  in.close();
  std::remove(path.c_str());
  EXPECT_EQ(text.str(), "[01/02 03:04:05] - written after : ListenThread\r\n");
}

}  // namespace
}  // namespace pb
