// lifecycle_test.cc: start-up, status and shutdown through the exports, with and without a
// settings file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "core/error_log.h"
#include "core/plugin_state.h"
#include "core/workers.h"
#include "net/socket.h"
#include "peerbeacon.h"
#include "platform/platform.h"
#include "store/entry_list.h"

namespace pb {
namespace {

class LifecycleTest : public testing::Test {
 protected:
  void SetUp() override {
    settings_ = platform::ReplaceFileName(platform::ExecutablePath(), "Peerbeacon.ini");
    std::remove(settings_.c_str());
    if (!platform::LogonUserName(&user_)) user_ = "Anonymous";
  }
  void TearDown() override {
    UnInitializeNetEx();
    std::remove(settings_.c_str());
  }
  void WriteSettings(const std::string& body) {
    std::ofstream out(settings_, std::ios::binary);
    out << "[" << user_ << "]\r\n" << body;
  }

  std::string settings_;
  std::string user_;
};

TEST(SpecificationTest, WritesExactlyItsBytes) {
  unsigned char buffer[80];
  memset(buffer, 0xFF, sizeof buffer);
  EXPECT_EQ(NetExSpecification(buffer), 1);
  const unsigned char expected[] = {0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 'P', 'e',
                                    'e',  'r',  'b',  'e',  'a',  'c',  'o',  'n',  0x00};
  EXPECT_EQ(memcmp(buffer, expected, sizeof expected), 0);
  for (size_t i = 19; i < 58; ++i) EXPECT_EQ(buffer[i], 0xFF) << "offset " << i;
  const unsigned char tail[] = {0x02, 0x00, 0x00, 0x00, 0x4F, 0x00, 0x00, 0x00};
  EXPECT_EQ(memcmp(buffer + 58, tail, sizeof tail), 0);
  for (size_t i = 66; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0xFF) << "offset " << i;
}

TEST_F(LifecycleTest, StartsWithDefaultsAndStopsOnce) {
  EXPECT_EQ(GetNxlStatus(), 0);
  ASSERT_EQ(InitializeNetEx(nullptr, "host text", nullptr), 1);
  EXPECT_EQ(GetNxlStatus(), 7);
  EXPECT_EQ(g_stOrgData.ttl, 15);
  EXPECT_STREQ(g_stOrgData.nickname, g_stOrgData.logonUser);
  EXPECT_STREQ(g_stOrgData.group, "Anonymous");
  EXPECT_STREQ(g_stOrgData.hostText, "host text");
  EXPECT_NE(g_stOrgData.interfaceAddress.load(), 0u) << "the receiver settles on an address";

  // A second start changes nothing.
  EntryList* list = g_stOrgData.entryList;
  EXPECT_EQ(InitializeNetEx(nullptr, "other", nullptr), 0);
  EXPECT_EQ(g_stOrgData.entryList, list);
  EXPECT_STREQ(g_stOrgData.hostText, "host text");

  EXPECT_EQ(UnInitializeNetEx(), 1);
  EXPECT_EQ(Workers().Running(), 0) << "shutdown waits for every worker";
  EXPECT_EQ(GetNxlStatus(), 0);
  EXPECT_EQ(g_stOrgData.entryList, nullptr);
  EXPECT_EQ(g_stOrgData.nickname, nullptr);
  EXPECT_EQ(UnInitializeNetEx(), 0);

  // And it starts again.
  ASSERT_EQ(InitializeNetEx(nullptr, "again", nullptr), 1);
  EXPECT_EQ(GetNxlStatus(), 7);
}

TEST_F(LifecycleTest, GroupAddressOutsideTheMulticastRangeFailsTheStart) {
  for (const char* bad : {"240.0.0.1", "192.168.0.1", "not an address"}) {
    WriteSettings(std::string("McstAddr=") + bad + "\r\n");
    EXPECT_EQ(InitializeNetEx(nullptr, "", nullptr), 0) << bad;
    EXPECT_EQ(GetNxlStatus(), 0);
    EXPECT_EQ(g_stOrgData.initialized.load(), 0);
    EXPECT_EQ(g_stOrgData.entryList, nullptr);
  }
  for (const char* good : {"224.0.0.1", "239.255.255.255"}) {
    WriteSettings(std::string("McstAddr=") + good + "\r\nMcstPort=7300\r\n");
    ASSERT_EQ(InitializeNetEx(nullptr, "", nullptr), 1) << good;
    EXPECT_EQ(g_stOrgData.groupAddress, platform::ParseDottedAddress(good));
    EXPECT_EQ(UnInitializeNetEx(), 1);
  }
}

TEST_F(LifecycleTest, ListenerWithoutItsPortLeavesStatusFive) {
  WriteSettings("McstPort=7310\r\n");
  Socket blocker = Socket::Create(kSockStream, kIpProtoTcp);
  ASSERT_TRUE(blocker);
  ASSERT_TRUE(blocker.Bind(SocketAddress::FromHost(0, 7310)));
  ASSERT_TRUE(blocker.Listen(1));

  const std::string log = ErrorLogPath();
  std::remove(log.c_str());
  ASSERT_EQ(InitializeNetEx(nullptr, "", nullptr), 1);
  EXPECT_EQ(GetNxlStatus(), 5);
  std::ifstream in(log, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("] - Err[bind]:10048 : ListenThread\r\n"), std::string::npos) << text;
  in.close();
  std::remove(log.c_str());
}

TEST_F(LifecycleTest, ExportsRefuseBeforeStartAndAfterStop) {
  EXPECT_EQ(StartEntry(), 0);
  EXPECT_EQ(StartEntryEx(1), 0);
  EXPECT_EQ(AbsenceEntry(1), 0);
  EXPECT_EQ(ExitEntry(), 0);
  EXPECT_EQ(LockEntryList(), 0);
  EXPECT_EQ(UnlockEntryList(), 0);
  EXPECT_EQ(GetEntryCount(), 0);
  EXPECT_EQ(GetEntryData(0, nullptr, 0), -1);
  EXPECT_EQ(GetGroupCount(), 0);
  EXPECT_EQ(GetGroupData(0, nullptr, 0), -1);
  unsigned char record[64] = {};
  EXPECT_EQ(SendMemoData(record, "x", 1, nullptr), 3);
  EXPECT_EQ(SendResultData(record, "x", 1, nullptr), 3);

  ASSERT_EQ(InitializeNetEx(nullptr, "", nullptr), 1);
  EXPECT_EQ(StartEntry(), 1);
  EXPECT_EQ(AbsenceEntry(5), 1);
  EXPECT_EQ(g_stOrgData.absence.load(), 5);
  EXPECT_EQ(StartEntryEx(7), 1);
  EXPECT_EQ(g_stOrgData.absence.load(), 5) << "StartEntryEx announces without storing";
  EXPECT_EQ(ExitEntry(), 1);
  ASSERT_EQ(UnInitializeNetEx(), 1);
  EXPECT_EQ(StartEntry(), 0);
  EXPECT_EQ(AbsenceEntry(0), 0);
}

}  // namespace
}  // namespace pb
