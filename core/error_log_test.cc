// error_log_test.cc: the error log's exact line format, appending, and whole lines under
// contention.
#include "core/error_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace pb {
namespace {

platform::LocalTime FixedClock() { return platform::LocalTime{12, 7, 2, 18, 42}; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ErrorLogTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = ErrorLogPath();
    ASSERT_FALSE(path_.empty());
    std::remove(path_.c_str());
    SetErrorLogClock(&FixedClock);
  }
  void TearDown() override {
    SetErrorLogClock(nullptr);
    std::remove(path_.c_str());
  }
  std::string path_;
};

TEST_F(ErrorLogTest, LivesBesideTheModuleWithTheExtensionErr) {
  // Same drive, directory and file stem; only the extension (if any) becomes "err".
  const std::string module = platform::ModulePath();
  const size_t name = module.find_last_of("/\\") + 1;
  const size_t dot = module.rfind('.');
  const std::string stem = dot != std::string::npos && dot > name ? module.substr(0, dot) : module;
  EXPECT_EQ(path_, stem + ".err");
  EXPECT_EQ(platform::ReplaceExtension("/a.d/Peerbeacon.nxl", "err"), "/a.d/Peerbeacon.err");
  EXPECT_EQ(platform::ReplaceExtension("/a.d/host", "err"), "/a.d/host.err");
}

TEST_F(ErrorLogTest, FirstLineCreatesTheFileAndLaterLinesAppend) {
  WriteErrorLogCode("Err[bind]:%d", 10048, "ListenThread");
  EXPECT_EQ(ReadAll(path_), "[12/07 02:18:42] - Err[bind]:10048 : ListenThread\r\n");

  WriteErrorLog("memory alloc erro!", "MulticastEntry");
  WriteErrorLogCode("Err[sMulticast:recvfrom]:%d", -1, "EntryControlThread");
  EXPECT_EQ(ReadAll(path_),
            "[12/07 02:18:42] - Err[bind]:10048 : ListenThread\r\n"
            "[12/07 02:18:42] - memory alloc erro! : MulticastEntry\r\n"
            "[12/07 02:18:42] - Err[sMulticast:recvfrom]:-1 : EntryControlThread\r\n");
}

TEST_F(ErrorLogTest, AppendsToAFileFromAnEarlierRun) {
  {
    std::ofstream earlier(path_, std::ios::binary);
    earlier << "earlier run\r\n";
  }
  WriteErrorLog("no init!g_stOrgData", "SendEntryCommand");
  EXPECT_EQ(ReadAll(path_),
            "earlier run\r\n[12/07 02:18:42] - no init!g_stOrgData : SendEntryCommand\r\n");
}

TEST_F(ErrorLogTest, ConcurrentReportersWriteWholeLines) {
  constexpr int kLines = 100;
  std::vector<std::thread> threads;
  for (const char* reporter : {"EntryControlThread", "ListenThread", "MulticastEntry"}) {
    threads.emplace_back([reporter] {
      for (int i = 0; i < kLines; ++i) WriteErrorLogCode("Err[sendto]:%d", i, reporter);
    });
  }
  for (std::thread& t : threads) t.join();

  std::istringstream lines(ReadAll(path_));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\r');
    EXPECT_EQ(line.rfind("[12/07 02:18:42] - Err[sendto]:", 0), 0u) << line;
    EXPECT_EQ(line.find('[', 1), line.find("[sendto]")) << "two lines mixed: " << line;
  }
  EXPECT_EQ(count, 3 * kLines);
}

}  // namespace
}  // namespace pb
