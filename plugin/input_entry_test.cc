// input_entry_test.cc: InputEntry's record, its refusals and its serialisation, through a
// scripted dialog surface.
#include "plugin/input_entry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/plugin_state.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "ui/resource_ids.h"
#include "ui/scripted_surface_test.h"

namespace pb {
namespace {

using ui::DialogKind;
using ui::DialogProcedure;
using ui::testing::Click;
using ui::testing::ScriptedRunner;
using ui::testing::ScriptedSurface;

ScriptedRunner::Script Type(const std::string& text, int button = PB_IDOK) {
  return [text, button](ScriptedSurface& s, DialogProcedure& p) {
    s.SetText(PB_IDC_DIRECT_ADDRESS, text);
    Click(s, p, button);
  };
}

std::vector<uint8_t> BlockBytes(PB_HGLOBAL handle, size_t size) {
  const auto* p = static_cast<const uint8_t*>(platform::GlobalLockBlock(handle));
  std::vector<uint8_t> bytes(p, p + size);
  platform::GlobalUnlockBlock(handle);
  return bytes;
}

class InputEntryTest : public ::testing::Test {
 protected:
  void TearDown() override { g_stOrgData.port = 0; }
  PB_HGLOBAL const kUntouched = reinterpret_cast<PB_HGLOBAL>(0x5a5a);
};

TEST_F(InputEntryTest, TypedAddressBecomesAnEntryRecordWithThePluginsPort) {
  for (int32_t port : {0, 7129}) {
    g_stOrgData.port = port == 0 ? 0 : PortToNetwork(port);
    ScriptedRunner runner(Type("192.168.1.20"));
    PB_HGLOBAL handle = kUntouched;
    ASSERT_EQ(RunInputEntry(runner, reinterpret_cast<PB_HWND>(0x77), &handle), 1);
    EXPECT_EQ(runner.last_kind, DialogKind::kDirectInput);
    EXPECT_EQ(runner.last_owner, reinterpret_cast<PB_HWND>(0x77));
    ASSERT_NE(handle, kUntouched);
    ASSERT_NE(handle, nullptr);
    const uint8_t port_hi = port == 0 ? 0 : 0x1B, port_lo = port == 0 ? 0 : 0xD9;
    const std::vector<uint8_t> expected = {
        57,   0,    0,       0,                          // size
        0,    1,    0,       0,                          // version 256
        2,    0,    0,       0,                          // kind
        1,    0,    0,       0,                          // status: present
        0,    0,    0,       0,                          // no groups
        0xFF, 0xFF, 0xFF,    0xFF,                       // no group ids
        44,   0,    0,       0,                          // name offset
        2,    0,    port_hi, port_lo,                    // family, port in network order
        192,  168,  1,       20,                         // address in network order
        0,    0,    0,       0,       0,   0,   0,   0,  // zero
        '1',  '9',  '2',     '.',     '1', '6', '8', '.', '1', '.', '2', '0', 0};
    EXPECT_EQ(BlockBytes(handle, 57), expected) << "port " << port;
    platform::GlobalFreeBlock(handle);
  }
}

TEST_F(InputEntryTest, NameIsTheTextAsTypedUpToItsLimit) {
  // The parser stops at white space, so the address counts and the rest stays in the name.
  const std::string typed = "10.1.2.3 " + std::string(300, 'x');
  ScriptedRunner runner(Type(typed));
  PB_HGLOBAL handle = nullptr;
  ASSERT_EQ(RunInputEntry(runner, nullptr, &handle), 1);
  const size_t size = 44 + 254 + 1;
  const std::vector<uint8_t> bytes = BlockBytes(handle, size);
  EXPECT_EQ(bytes[0] | (bytes[1] << 8), static_cast<int>(size));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[44])), typed.substr(0, 254));
  EXPECT_EQ(bytes[32], 10);
  EXPECT_EQ(bytes[35], 3);
  platform::GlobalFreeBlock(handle);
}

TEST_F(InputEntryTest, RefusalsLeaveTheHandleAlone) {
  const struct {
    const char* what;
    ScriptedRunner::Script script;
  } cases[] = {
      {"host name", Type("printer.example")},
      {"parser's failure value", Type("255.255.255.255")},
      {"empty", Type("")},
      {"cancel button", Type("192.168.1.20", PB_IDCANCEL)},
      {"dialog closed without a result", nullptr},
  };
  for (const auto& c : cases) {
    ScriptedRunner runner(c.script);
    PB_HGLOBAL handle = kUntouched;
    EXPECT_EQ(RunInputEntry(runner, nullptr, &handle), 2) << c.what;
    EXPECT_EQ(handle, kUntouched) << c.what;
  }
  ScriptedRunner runner(Type("192.168.1.20"));
  EXPECT_EQ(RunInputEntry(runner, nullptr, nullptr), 2);
  EXPECT_EQ(runner.runs, 0);
}

TEST_F(InputEntryTest, ConcurrentCallsShowTheirDialogsOneAfterTheOther) {
  ScriptedRunner runner([](ScriptedSurface& s, DialogProcedure& p) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    s.SetText(PB_IDC_DIRECT_ADDRESS, "172.16.0.9");
    Click(s, p, PB_IDOK);
  });
  PB_HGLOBAL handles[2] = {nullptr, nullptr};
  int32_t results[2] = {0, 0};
  std::thread a([&] { results[0] = RunInputEntry(runner, nullptr, &handles[0]); });
  std::thread b([&] { results[1] = RunInputEntry(runner, nullptr, &handles[1]); });
  a.join();
  b.join();
  EXPECT_EQ(runner.most_open.load(), 1);
  EXPECT_EQ(runner.runs, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(results[i], 1);
    ASSERT_NE(handles[i], nullptr);
    EXPECT_EQ(BlockBytes(handles[i], 55)[44 + 10], '\0');
    platform::GlobalFreeBlock(handles[i]);
  }
}

// The lock behaves as a critical section does: the thread that holds it may enter again, as a
// host does that calls InputEntry again while its first dialog runs its message loop.
TEST_F(InputEntryTest, SameThreadMayEnterAgainWhileItsDialogIsOpen) {
  ScriptedRunner inner(Type("10.0.0.2"));
  PB_HGLOBAL inner_handle = nullptr;
  int32_t inner_result = 0;
  ScriptedRunner outer([&](ScriptedSurface& s, DialogProcedure& p) {
    inner_result = RunInputEntry(inner, nullptr, &inner_handle);
    s.SetText(PB_IDC_DIRECT_ADDRESS, "10.0.0.1");
    Click(s, p, PB_IDOK);
  });
  PB_HGLOBAL outer_handle = nullptr;
  auto done = std::make_shared<std::promise<int32_t>>();
  std::thread([&, done] {
    done->set_value(RunInputEntry(outer, nullptr, &outer_handle));
  }).detach();
  // A lock that the same thread cannot enter again never lets the call return.
  auto result = done->get_future();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "a nested InputEntry on the same thread blocked";
  EXPECT_EQ(result.get(), 1);
  EXPECT_EQ(inner_result, 1);
  ASSERT_NE(inner_handle, nullptr);
  ASSERT_NE(outer_handle, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(BlockBytes(inner_handle, 53).data() + 44), "10.0.0.2");
  EXPECT_STREQ(reinterpret_cast<const char*>(BlockBytes(outer_handle, 53).data() + 44), "10.0.0.1");
  platform::GlobalFreeBlock(inner_handle);
  platform::GlobalFreeBlock(outer_handle);
}

}  // namespace
}  // namespace pb
