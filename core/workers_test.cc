// workers_test.cc: shutdown's wait for the plug-in's threads.
#include "core/workers.h"

#include <gtest/gtest.h>

#include <atomic>

namespace pb {
namespace {

std::atomic<int> g_finished{0};
platform::Handle g_release = nullptr;

void BlockedWorker(void*) {
  platform::WaitForObjects(1, &g_release, platform::kInfinite);
  g_finished.fetch_add(1);
  Workers().Leave();
}

TEST(WorkersTest, WaitIdleWaitsForEveryWorkerWithinItsBound) {
  platform::UniqueHandle release(platform::CreateEventObject(true, false));
  g_release = release.get();
  ASSERT_TRUE(StartWorker(&BlockedWorker, nullptr));
  ASSERT_TRUE(StartWorker(&BlockedWorker, nullptr));
  EXPECT_EQ(Workers().Running(), 2);
  EXPECT_FALSE(Workers().WaitIdle(50)) << "must not report idle while workers run";

  platform::SetEventObject(release.get());
  EXPECT_TRUE(Workers().WaitIdle(10000));
  EXPECT_EQ(g_finished.load(), 2);
  EXPECT_EQ(Workers().Running(), 0);
}

}  // namespace
}  // namespace pb
