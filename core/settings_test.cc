// settings_test.cc: the settings file's keys, defaults, ranges and derived values.
#include "core/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "core/plugin_state.h"
#include "platform/platform.h"

namespace pb {
namespace {

class SettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = platform::ReplaceFileName(platform::ModulePath(), "settings_test_Peerbeacon.ini");
    std::remove(path_.c_str());
  }
  void TearDown() override { std::remove(path_.c_str()); }

  void Write(const std::string& content) {
    std::ofstream out(path_, std::ios::binary);
    out << content;
  }

  Settings Read(SettingsResult expected = SettingsResult::kOk) {
    Settings s;
    EXPECT_EQ(ReadSettings(path_, "taro", &s), expected);
    return s;
  }

  static uint16_t HostPort(const Settings& s) {
    const auto* b = reinterpret_cast<const unsigned char*>(&s.port);
    return static_cast<uint16_t>(b[0] << 8 | b[1]);
  }

  std::string path_;
};

TEST_F(SettingsTest, NoFileGivesTheBuiltInValues) {
  Settings s;
  ASSERT_EQ(ReadSettings("", "taro", &s), SettingsResult::kOk);
  EXPECT_EQ(HostPort(s), 7129);
  EXPECT_EQ(s.groupAddress, platform::ParseDottedAddress("239.191.38.82"));
  EXPECT_EQ(s.interfaceAddress, 0u);
  EXPECT_EQ(s.ttl, 15);
  EXPECT_EQ(s.nickname, "taro");
  EXPECT_EQ(s.group, "Anonymous");
  EXPECT_EQ(s.domainKey, 0u);
  EXPECT_EQ(s.seedType, 0);
  EXPECT_EQ(s.checkFrom, 0);
}

TEST_F(SettingsTest, OnlyTheUsersOwnSectionCounts) {
  Write("[taro]\r\nMcstPort=7000\r\n");
  Settings s = Read();
  EXPECT_EQ(HostPort(s), 7000);
  EXPECT_EQ(s.groupAddress, platform::ParseDottedAddress("239.191.38.82"));
  EXPECT_EQ(s.ttl, 15);
  EXPECT_EQ(s.nickname, "taro");
  EXPECT_EQ(s.group, "Anonymous");

  Write("[hanako]\r\nMcstPort=7000\r\n");
  EXPECT_EQ(HostPort(Read()), 7129);
}

TEST_F(SettingsTest, DerivedValuesKeepTheirLowBits) {
  Write("[taro]\nMcstPort=72665\nDomainKeyUw=1\nDomainKeyLw=2\nCheckFrom=5\nSeedType=-1\n");
  Settings s = Read();
  EXPECT_EQ(HostPort(s), 7129);  // 7129 + 65536
  EXPECT_EQ(s.domainKey, 65538u);
  EXPECT_EQ(s.checkFrom, 1);
  EXPECT_EQ(s.seedType, -1);

  Write("[taro]\nDomainKeyUw=65537\nDomainKeyLw=2\nSeedType=4\nMcstTTL=-3\n");
  s = Read();
  EXPECT_EQ(s.domainKey, 65538u);
  EXPECT_EQ(s.seedType, 4);
  EXPECT_EQ(s.ttl, -3);  // not limited at start-up
}

TEST_F(SettingsTest, GroupAddressMustBeMulticast) {
  for (const char* good : {"224.0.0.1", "239.255.255.255"}) {
    Write(std::string("[taro]\nMcstAddr=") + good + "\n");
    EXPECT_EQ(Read().groupAddress, platform::ParseDottedAddress(good)) << good;
  }
  for (const char* bad : {"240.0.0.1", "192.168.0.1", "no address", "255.255.255.255"}) {
    Write(std::string("[taro]\nMcstAddr=") + bad + "\n");
    Read(SettingsResult::kBadGroupAddress);
  }
}

TEST_F(SettingsTest, UnparsableInterfaceIsKeptAsTheFailureValue) {
  Write("[taro]\nMcstIF=eth0\nNickname=Taro Y.\nGroup=Sales>East&Staff\n");
  Settings s = Read();
  EXPECT_EQ(s.interfaceAddress, 0xFFFFFFFFu);
  EXPECT_EQ(s.nickname, "Taro Y.");
  EXPECT_EQ(s.group, "Sales>East&Staff");
}

TEST_F(SettingsTest, LongTextIsCutToTheBuffer) {
  Write("[taro]\nNickname=" + std::string(3000, 'n') + "\n");
  EXPECT_EQ(Read().nickname, std::string(2047, 'n'));
}

TEST(SettingsHelpers, MulticastRangeAndPortOrder) {
  EXPECT_TRUE(IsMulticastAddress(platform::ParseDottedAddress("224.0.0.0")));
  EXPECT_TRUE(IsMulticastAddress(platform::ParseDottedAddress("239.255.255.255")));
  EXPECT_FALSE(IsMulticastAddress(platform::ParseDottedAddress("223.255.255.255")));
  EXPECT_FALSE(IsMulticastAddress(platform::ParseDottedAddress("240.0.0.0")));
  const uint32_t port = PortToNetwork(7129);
  const auto* b = reinterpret_cast<const unsigned char*>(&port);
  EXPECT_EQ(b[0], 0x1B);
  EXPECT_EQ(b[1], 0xD9);
}

}  // namespace
}  // namespace pb
