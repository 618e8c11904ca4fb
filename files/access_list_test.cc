// access_list_test.cc: the allow list's scanner, token rules and the file beside the module.
#include "files/access_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace pb {
namespace {

uint32_t Ip(const char* dotted) { return platform::ParseDottedAddress(dotted); }

// Scans exactly the bytes of text in a block of their own size, so that a read past the end
// is caught by the sanitizers.
bool Admits(const std::string& text, const char* address) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[text.size() + 1]);
  memcpy(copy.get(), text.data(), text.size());
  return AccessListAdmits(copy.get(), text.size(), Ip(address)) == 1;
}

TEST(AccessListScan, NetworksAndPrefixes) {
  EXPECT_TRUE(Admits("192.168.1.0/24\n", "192.168.1.77"));
  EXPECT_FALSE(Admits("192.168.1.0/24\n", "192.168.2.1"));
  EXPECT_TRUE(Admits("10.0.0.0/8\n", "10.255.1.2"));
  EXPECT_FALSE(Admits("10.0.0.0/8\n", "11.0.0.0"));
  // A bare address, /0 and an over-long prefix all admit exactly the one address.
  for (const char* token : {"10.0.0.5", "10.0.0.5/0", "10.0.0.5/40", "10.0.0.5/32", "10.0.0.5/"}) {
    SCOPED_TRACE(token);
    EXPECT_TRUE(Admits(token, "10.0.0.5"));
    EXPECT_FALSE(Admits(token, "10.0.0.4"));
    EXPECT_FALSE(Admits(token, "0.0.0.0"));
  }
  // The prefix is read like atoi: the leading digits only.
  EXPECT_TRUE(Admits("192.168.1.0/24/8", "192.168.1.200"));
  EXPECT_FALSE(Admits("192.168.1.0/24/8", "192.168.2.1"));
  EXPECT_TRUE(Admits("10.0.0.0/2.5", "20.0.0.1"));
  EXPECT_FALSE(Admits("10.0.0.0/2.5", "64.0.0.1"));
  EXPECT_FALSE(Admits("10.0.0.5/.", "10.0.0.6"));
  // No single token admits everything, two halves do.
  EXPECT_FALSE(Admits("0.0.0.0/0", "1.2.3.4"));
  EXPECT_TRUE(Admits("0.0.0.0/1\n128.0.0.0/1\n", "1.2.3.4"));
  EXPECT_TRUE(Admits("0.0.0.0/1\n128.0.0.0/1\n", "200.2.3.4"));
}

TEST(AccessListScan, ShortDottedFormsFollowInetAddr) {
  EXPECT_TRUE(Admits("10.1\n", "10.0.0.1"));
  EXPECT_TRUE(Admits("10.1.2\n", "10.1.0.2"));
  EXPECT_TRUE(Admits("167772161\n", "10.0.0.1"));
  // Unparsable text stands for 255.255.255.255 and admits only that.
  EXPECT_TRUE(Admits("1.2.3.4.5\n", "255.255.255.255"));
  EXPECT_FALSE(Admits("1.2.3.4.5\n", "1.2.3.4"));
}

TEST(AccessListScan, SeparatorsCommentsAndLineEnds) {
  // Blanks and commas are skipped without ending the token: the two addresses run together.
  for (const char* line : {"10.0.0.1 10.0.0.2\n", "10.0.0.1, 10.0.0.2\n"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(Admits(line, "10.0.0.1"));
    EXPECT_FALSE(Admits(line, "10.0.0.2"));
  }
  const std::string commented = "192.168.0.9 # printer 10.0.0.1\n10.0.0.2";
  EXPECT_TRUE(Admits(commented, "192.168.0.9"));
  EXPECT_FALSE(Admits(commented, "10.0.0.1"));
  EXPECT_TRUE(Admits(commented, "10.0.0.2"));
  // '#' ends the token before it even without a blank.
  EXPECT_TRUE(Admits("10.0.0.7#x\n", "10.0.0.7"));

  const std::string crlf = "10.0.0.1\r\n10.0.0.2\r\n";
  EXPECT_TRUE(Admits(crlf, "10.0.0.1"));
  EXPECT_TRUE(Admits(crlf, "10.0.0.2"));

  // A comment running to the end of the file ends the scan; the token inside it never counts.
  EXPECT_TRUE(Admits("10.0.0.1\n# last 10.0.0.3", "10.0.0.1"));
  EXPECT_FALSE(Admits("10.0.0.1\n# last 10.0.0.3", "10.0.0.3"));
  EXPECT_FALSE(Admits("#", "255.255.255.255"));
  EXPECT_FALSE(Admits("", "255.255.255.255"));
  EXPECT_EQ(AccessListAdmits(nullptr, 0, Ip("1.2.3.4")), 0);
}

TEST(AccessListScan, LongTokensSplitAtSixtyFourCharacters) {
  // 64 characters that admit 10.0.0.1 on their own (a prefix of zeros is /0), then six more.
  const std::string first = "10.0.0.1/" + std::string(55, '0');
  ASSERT_EQ(first.size(), 64u);
  const std::string text = first + "123456\n";
  EXPECT_TRUE(Admits(text, "10.0.0.1"));
  EXPECT_TRUE(Admits(text, "0.1.226.64"));   // "123456" as one number
  EXPECT_FALSE(Admits(text, "0.0.91.160"));  // "23456": a split one character late

  // 70 digits: an unparsable first token (all ones) and "999999".
  const std::string digits(70, '9');
  EXPECT_TRUE(Admits(digits, "255.255.255.255"));
  EXPECT_TRUE(Admits(digits, "0.15.66.63"));
}

TEST(AccessListPathTest, DirectoryOfTheModule) {
  if (platform::PathSeparator() == '\\') {
    EXPECT_EQ(AccessListPath("C:\\Apps\\Peerbeacon.nxl", "allow.lst"), "C:\\Apps\\allow.lst");
    EXPECT_EQ(AccessListPath("\\Peerbeacon.nxl", "allow.lst"), "");
    EXPECT_EQ(AccessListPath("C:/Apps/Peerbeacon.nxl", "allow.lst"), "");
  } else {
    EXPECT_EQ(AccessListPath("/opt/pb/Peerbeacon.nxl", "allow.lst"), "/opt/pb/allow.lst");
    EXPECT_EQ(AccessListPath("/Peerbeacon.nxl", "allow.lst"), "/allow.lst");
  }
  EXPECT_EQ(AccessListPath("Peerbeacon.nxl", "allow.lst"), "");
  EXPECT_EQ(AccessListPath("", "allow.lst"), "");
  const std::string dir = std::string(1, 'd') + platform::PathSeparator();
  // 259 characters fit the path buffer with its terminator; 260 do not.
  EXPECT_EQ(AccessListPath(dir + "m", std::string(257, 'a').c_str()).size(), 259u);
  EXPECT_EQ(AccessListPath(dir + "m", std::string(258, 'a').c_str()), "");
}

// The file beside this test program, which is its own module.
class AccessListFile : public testing::Test {
 protected:
  void SetUp() override {
    path_ = AccessListPath(platform::ModulePath(), kAccessListFileName);
    ASSERT_FALSE(path_.empty());
    std::remove(path_.c_str());
  }
  void TearDown() override { std::remove(path_.c_str()); }
  void Write(const std::string& text) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good());
  }
  std::string path_;
};

TEST_F(AccessListFile, ReadAfreshOnEveryCall) {
  EXPECT_EQ(IsAddressAllowed(Ip("10.0.0.5"), kAccessListFileName), 0);  // missing
  Write("");
  EXPECT_EQ(IsAddressAllowed(Ip("10.0.0.5"), kAccessListFileName), 0);  // empty
  Write("# site\r\n192.168.1.0/24\r\n10.0.0.5");
  EXPECT_EQ(IsAddressAllowed(Ip("10.0.0.5"), kAccessListFileName), 1);
  EXPECT_EQ(IsAddressAllowed(Ip("192.168.1.9"), kAccessListFileName), 1);
  EXPECT_EQ(IsAddressAllowed(Ip("10.0.0.6"), kAccessListFileName), 0);
  Write("10.0.0.6\n");
  EXPECT_EQ(IsAddressAllowed(Ip("10.0.0.5"), kAccessListFileName), 0);
  EXPECT_EQ(IsAddressAllowed(Ip("10.0.0.6"), kAccessListFileName), 1);
  EXPECT_EQ(IsAddressAllowed(Ip("10.0.0.6"), "other.lst"), 0);
}

// An administrator rewrites the file in place (truncated, then written piece by piece) while
// peers are checked. No check may fault on bytes that were cut away under it, and once the
// writer is done the check answers for the text it left.
TEST_F(AccessListFile, RewrittenInPlaceWhileChecked) {
  // A long comment spreads the file over many pages, so that a rewrite shrinks it under a scan.
  const std::string padding = "#" + std::string(256 * 1024, 'x') + "\n";
  const std::string texts[2] = {padding + "10.0.0.5\n", padding + "10.0.0.6\n"};
  constexpr int kRewrites = 101;  // odd: the last one writes texts[0]
  Write(texts[1]);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < kRewrites; ++i) {
      const std::string& text = texts[i % 2 == 0 ? 0 : 1];
      // On Windows the open fails while a check holds the file; that round is skipped, except
      // the last, which the final answer depends on.
      std::ofstream out;
      do {
        out.open(path_, std::ios::binary | std::ios::trunc);
      } while (!out.is_open() && i == kRewrites - 1);
      for (size_t at = 0; out.is_open() && at < text.size(); at += 4096) {
        out.write(text.data() + at,
                  static_cast<std::streamsize>(std::min<size_t>(4096, text.size() - at)));
        out.flush();
      }
    }
    done.store(true);
  });
  int checks = 0, other_answers = 0;
  while (!done.load() || checks == 0) {
    const int32_t answer = IsAddressAllowed(Ip("10.0.0.5"), kAccessListFileName);
    if (answer != 0 && answer != 1) ++other_answers;
    ++checks;
  }
  writer.join();
  EXPECT_EQ(other_answers, 0);
  EXPECT_EQ(IsAddressAllowed(Ip("10.0.0.5"), kAccessListFileName), 1);
  EXPECT_EQ(IsAddressAllowed(Ip("10.0.0.6"), kAccessListFileName), 0);
}

}  // namespace
}  // namespace pb
