// host_interface_test.cc: the host's records byte for byte, the combined group space with the
// node list, the size-first protocol, and the lock's behaviour before start-up and at stop.
#include "hostview/host_interface.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "core/plugin_state.h"
#include "files/node_list.h"
#include "platform/platform.h"
#include "store/entry_list.h"
#include "store/group_table.h"
#include "wire/byte_order.h"
#include "wire/entry_command.h"

namespace pb {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
constexpr uint8_t kCanary = 0xCD;

std::array<uint8_t, 16> SocketAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d,
                                      uint16_t port = 7129) {
  return {2, 0, static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port), a, b, c, d};
}

void PutLe32(Bytes* bytes, int32_t value) {
  uint8_t le[4];
  WriteLe32Signed(le, value);
  bytes->insert(bytes->end(), le, le + 4);
}

// The fixed part as the host expects it, written out field by field.
Bytes FixedPart(int32_t size, int32_t status, int32_t count, int32_t ids_offset,
                const std::array<uint8_t, 16>& address) {
  Bytes bytes;
  for (int32_t v : {size, 256, 2, status, count, ids_offset, 44}) PutLe32(&bytes, v);
  bytes.insert(bytes.end(), address.begin(), address.end());
  return bytes;
}

class HostInterfaceTest : public testing::Test {
 protected:
  void SetUp() override {
    g_stOrgData.entryList = EntryList::Create();
    ASSERT_NE(g_stOrgData.entryList, nullptr);
    g_stOrgData.peerGroups = new GroupTable();
    g_stOrgData.stopEvent = platform::CreateEventObject(true, false);
    ASSERT_NE(g_stOrgData.stopEvent, nullptr);
    g_stOrgData.seedType = -1;
    g_stOrgData.initialized = 1;
  }
  void TearDown() override {
    g_stOrgData.initialized = 0;
    delete g_stOrgData.nodeListGroups;
    g_stOrgData.nodeListGroups = nullptr;
    EntryList::Destroy(g_stOrgData.entryList);
    g_stOrgData.entryList = nullptr;
    delete g_stOrgData.peerGroups;
    g_stOrgData.peerGroups = nullptr;
    platform::CloseHandleObject(g_stOrgData.stopEvent);
    g_stOrgData.stopEvent = nullptr;
    g_stOrgData.seedType = 0;
    if (!primus_.empty()) fs::remove(primus_);
    if (!dir_.empty()) {
      std::error_code ignored;
      fs::remove_all(dir_, ignored);
    }
  }

  void AddPeer(const std::array<uint8_t, 16>& address, const char* nickname,
               std::vector<int32_t> ids = {}, int32_t absence = 0, const char* user = "user",
               const char* machine = "PC") {
    EntryCommandBuffer command = BuildEntryCommand(1, absence, nickname, "", user, machine, 0);
    ASSERT_TRUE(command);
    ASSERT_EQ(g_stOrgData.entryList->Upsert(address.data(), command.data(), ids.data(),
                                            static_cast<int32_t>(ids.size())),
              1);
  }

  // A node-list file of this test's own, named by Primus.ini beside the test program.
  void UseNodeList(const std::string& text) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = fs::temp_directory_path() / ("pb_host_view_" + std::to_string(now));
    fs::create_directories(dir_);
    const std::string node_list = (dir_ / "NodeList.ini").string();
    std::ofstream(node_list, std::ios::binary) << text;
    std::string user;
    if (!platform::LogonUserName(&user) || user.empty()) user = "Anonymous";
    primus_ = platform::ReplaceFileName(platform::ExecutablePath(), "Primus.ini");
    std::ofstream(primus_, std::ios::binary)
        << "[" << user << "]\r\nNodeListPath=" << node_list << "\r\n";
  }

  // The record of entry index through the size-first protocol; checks that one byte less
  // writes nothing and that exactly the size suffices.
  Bytes Entry(int32_t index) {
    const int32_t size = HostGetEntryData(index, nullptr, 0);
    EXPECT_GT(size, 44);
    if (size <= 44) return {};
    Bytes small(static_cast<size_t>(size), kCanary);
    EXPECT_EQ(HostGetEntryData(index, small.data(), size - 1), size);
    EXPECT_EQ(small, Bytes(static_cast<size_t>(size), kCanary));
    Bytes record(static_cast<size_t>(size), kCanary);
    EXPECT_EQ(HostGetEntryData(index, record.data(), size), size);
    return record;
  }
  Bytes Group(int32_t index) {
    const int32_t size = HostGetGroupData(index, nullptr, 0);
    EXPECT_GT(size, 20);
    if (size <= 20) return {};
    Bytes small(static_cast<size_t>(size), kCanary);
    EXPECT_EQ(HostGetGroupData(index, small.data(), size - 1), size);
    EXPECT_EQ(small, Bytes(static_cast<size_t>(size), kCanary));
    Bytes record(static_cast<size_t>(size), kCanary);
    EXPECT_EQ(HostGetGroupData(index, record.data(), size), size);
    return record;
  }

  fs::path dir_;
  std::string primus_;
};

TEST_F(HostInterfaceTest, EntryRecordsByteForByte) {
  ASSERT_EQ(HostLockEntryList(), 1);
  EXPECT_EQ(HostGetEntryCount(), 0);
  EXPECT_EQ(HostGetEntryData(0, nullptr, 0), -1);

  const auto bob = SocketAddress(10, 0, 0, 5);
  AddPeer(bob, "Bob", {1, 2});
  AddPeer(SocketAddress(10, 0, 0, 6), "Al", {}, 3);
  EXPECT_EQ(HostGetEntryCount(), 2);

  Bytes expected = FixedPart(74, 1, 2, 66, bob);
  const char name[] = "Bob (10.0.0.5)";
  expected.insert(expected.end(), name, name + sizeof name);  // with its terminator
  expected.resize(66, kCanary);  // the rest of the name field is not written
  PutLe32(&expected, 1);
  PutLe32(&expected, 2);
  EXPECT_EQ(Entry(0), expected);

  // No groups: count 0, offset -1, size L + 45; a non-zero absence makes status 2.
  Bytes al = FixedPart(65, 2, 0, -1, SocketAddress(10, 0, 0, 6));
  const char al_name[] = "Al (10.0.0.6)";
  al.insert(al.end(), al_name, al_name + sizeof al_name);
  al.resize(65, kCanary);
  EXPECT_EQ(Entry(1), al);

  EXPECT_EQ(HostGetEntryData(2, nullptr, 0), -1);
  EXPECT_EQ(HostGetEntryData(-1, nullptr, 0), -1);
  EXPECT_EQ(HostUnlockEntryList(), 1);
}

TEST_F(HostInterfaceTest, CombinedGroupSpaceWithTheNodeList) {
  UseNodeList(
      "[GROUP]\r\nCOUNT=2\r\nGROUP1=X\r\nGROUP2=Y,1\r\n"
      "[MACHINE]\r\nBob=Robert,1&2&9\r\nAl=,2\r\n");
  for (const char* name : {"Sales", "East", "West"}) g_stOrgData.peerGroups->Intern(name, -1);
  const auto bob = SocketAddress(10, 0, 0, 5);
  AddPeer(bob, "Bob", {1});
  AddPeer(SocketAddress(10, 0, 0, 6), "Al");
  g_stOrgData.seedType = 0;

  ASSERT_EQ(HostLockEntryList(), 1);
  EXPECT_EQ(HostGetGroupCount(), 5);
  Bytes sales;
  for (int32_t v : {26, 256, -1, 0, 20}) PutLe32(&sales, v);
  for (char c : std::string("Sales")) sales.push_back(static_cast<uint8_t>(c));
  sales.push_back(0);
  EXPECT_EQ(Group(0), sales);
  Bytes x = Group(3);
  ASSERT_EQ(x.size(), 22u);
  EXPECT_EQ(ReadLe32Signed(x.data() + 8), -1);
  EXPECT_STREQ(reinterpret_cast<const char*>(x.data() + 20), "X");
  Bytes y = Group(4);
  ASSERT_EQ(y.size(), 22u);
  EXPECT_EQ(ReadLe32Signed(y.data() + 8), 3);
  EXPECT_STREQ(reinterpret_cast<const char*>(y.data() + 20), "Y");
  EXPECT_EQ(HostGetGroupData(5, nullptr, 0), -1);
  EXPECT_EQ(HostGetGroupData(-1, nullptr, 0), -1);

  // The node list renames Bob and adds its groups 1 and 2 (ids 3 and 4) behind his own id 1;
  // group 9 names no node-list group. L = 6 + 18.
  Bytes expected = FixedPart(81, 1, 3, 69, bob);
  const char name[] = "Robert (10.0.0.5)";
  expected.insert(expected.end(), name, name + sizeof name);
  expected.resize(69, kCanary);
  for (int32_t id : {1, 3, 4}) PutLe32(&expected, id);
  EXPECT_EQ(Entry(0), expected);

  // An empty node-list name keeps the nickname.
  Bytes al = Entry(1);
  ASSERT_EQ(al.size(), 20u + 45u + 4u);
  EXPECT_STREQ(reinterpret_cast<const char*>(al.data() + 44), "Al (10.0.0.6)");
  EXPECT_EQ(ReadLe32Signed(al.data() + 16), 1);
  EXPECT_EQ(ReadLe32Signed(al.data() + 65), 4);

  EXPECT_EQ(HostUnlockEntryList(), 1);
  EXPECT_EQ(HostGetGroupCount(), 3);
  EXPECT_EQ(HostGetGroupData(3, nullptr, 0), -1);
  EXPECT_EQ(g_stOrgData.nodeListGroups, nullptr);

  // SeedType -1 turns the node list off: no extra groups, no renaming.
  g_stOrgData.seedType = -1;
  ASSERT_EQ(HostLockEntryList(), 1);
  EXPECT_EQ(HostGetGroupCount(), 3);
  EXPECT_EQ(HostGetEntryData(0, nullptr, 0), 21 + 45 + 4);
  EXPECT_EQ(HostUnlockEntryList(), 1);
}

// The node list is read as it stood at the lock: an edit during a lock period changes none of
// that period's records or groups, and the next lock shows it. What the reads keep between
// periods follows the peer's key and the peer-group count of the moment.
TEST_F(HostInterfaceTest, NodeListEditsShowAtTheNextLockOnly) {
  UseNodeList("[GROUP]\r\nCOUNT=1\r\nGROUP1=X\r\n[MACHINE]\r\nBob=Robert,1\r\nAl=Alan\r\n");
  const std::string path = (dir_ / "NodeList.ini").string();
  g_stOrgData.peerGroups->Intern("Sales", -1);
  AddPeer(SocketAddress(10, 0, 0, 5), "Bob");
  AddPeer(SocketAddress(10, 0, 0, 6), "Al");
  g_stOrgData.seedType = 0;
  const auto name = [this](int32_t index) {
    const Bytes record = Entry(index);
    return record.size() > 44 ? std::string(reinterpret_cast<const char*>(record.data() + 44))
                              : std::string();
  };
  // The node-list ids of a record: behind the name field, after the peer's own (none here).
  const auto ids = [this](int32_t index) {
    const Bytes record = Entry(index);
    std::vector<int32_t> found;
    const int32_t count = ReadLe32Signed(record.data() + 16);
    const int32_t at = ReadLe32Signed(record.data() + 20);
    for (int32_t i = 0; i < count; ++i) found.push_back(ReadLe32Signed(record.data() + at + 4 * i));
    return found;
  };

  ASSERT_EQ(HostLockEntryList(), 1);
  EXPECT_EQ(name(0), "Robert (10.0.0.5)");
  // The edit renames both, adds a group and gives Al one; this period still sees the old file.
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      << "[GROUP]\r\nCOUNT=2\r\nGROUP1=X\r\nGROUP2=Y\r\n"
      << "[MACHINE]\r\nBob=Bert,1\r\nAl=Albert,2\r\nCarl=Charles,2\r\n";
  EXPECT_EQ(name(1), "Alan (10.0.0.6)");
  EXPECT_EQ(ids(1), std::vector<int32_t>{});
  EXPECT_EQ(name(0), "Robert (10.0.0.5)");
  EXPECT_EQ(HostGetGroupCount(), 2);
  EXPECT_EQ(HostUnlockEntryList(), 1);

  ASSERT_EQ(HostLockEntryList(), 1);
  EXPECT_EQ(name(0), "Bert (10.0.0.5)");
  EXPECT_EQ(name(1), "Albert (10.0.0.6)");
  EXPECT_EQ(ids(1), std::vector<int32_t>{2});
  EXPECT_EQ(HostGetGroupCount(), 3);
  EXPECT_EQ(HostUnlockEntryList(), 1);

  // The same file: a new peer group shifts the node-list ids, and a peer whose nickname
  // changed in its place gets its new key's part.
  g_stOrgData.peerGroups->Intern("East", -1);
  AddPeer(SocketAddress(10, 0, 0, 6), "Carl");
  ASSERT_EQ(HostLockEntryList(), 1);
  EXPECT_EQ(ids(0), std::vector<int32_t>{2});
  EXPECT_EQ(name(1), "Charles (10.0.0.6)");
  EXPECT_EQ(ids(1), std::vector<int32_t>{3});
  EXPECT_EQ(HostUnlockEntryList(), 1);
}

// With no node-list file anywhere, the search for it (five places) runs once per lock period,
// not once per record.
TEST_F(HostInterfaceTest, AbsentNodeListIsSearchedForOncePerLock) {
  for (uint8_t i = 1; i <= 5; ++i) {
    AddPeer(SocketAddress(10, 0, 1, i), ("peer" + std::to_string(i)).c_str());
  }
  g_stOrgData.seedType = 0;
  for (int period = 0; period < 2; ++period) {
    const uint64_t before = NodeListSearches();
    ASSERT_EQ(HostLockEntryList(), 1);
    for (int32_t i = 0; i < HostGetEntryCount(); ++i) {
      EXPECT_STREQ(
          reinterpret_cast<const char*>(Entry(i).data() + 44),
          ("peer" + std::to_string(i + 1) + " (10.0.1." + std::to_string(i + 1) + ")").c_str());
    }
    EXPECT_EQ(HostUnlockEntryList(), 1);
    EXPECT_EQ(NodeListSearches() - before, 1u);
  }
}

TEST_F(HostInterfaceTest, CompareEntryData) {
  Bytes ra(45), rb(45);
  BuildEntryRecord(ra.data(), ra.size(), SocketAddress(10, 0, 0, 5, 7129).data(), "", 1);
  BuildEntryRecord(rb.data(), rb.size(), SocketAddress(10, 0, 0, 5, 7130).data(), "", 1);
  EXPECT_EQ(HostCompareEntryData(ra.data(), 45, rb.data(), 45), 1);
  EXPECT_EQ(HostCompareEntryData(ra.data(), 43, rb.data(), 45), 0);
  EXPECT_EQ(HostCompareEntryData(ra.data(), 45, rb.data(), 43), 0);
  EXPECT_EQ(HostCompareEntryData(ra.data(), 45, nullptr, 45), 0);
  rb[35] = 6;
  EXPECT_EQ(HostCompareEntryData(ra.data(), 45, rb.data(), 45), 0);
  rb[35] = 5;
  rb[8] = 3;  // not an entry record
  EXPECT_EQ(HostCompareEntryData(ra.data(), 45, rb.data(), 45), 0);
}

TEST_F(HostInterfaceTest, EntryInfoStaysInsideTheBuffer) {
  Bytes record(57);
  ASSERT_EQ(BuildEntryRecord(record.data(), record.size(), SocketAddress(192, 168, 1, 20).data(),
                             "192.168.1.20", 13),
            57);
  std::vector<char> text(400, '#');
  EXPECT_EQ(HostGetEntryInfo(text.data(), 303, record.data(), 57), 304);
  EXPECT_EQ(std::string(text.data(), 400), std::string(400, '#'));
  EXPECT_EQ(HostGetEntryInfo(nullptr, 400, record.data(), 57), 304);
  EXPECT_EQ(HostGetEntryInfo(text.data(), 400, record.data(), 43), 0);

  const std::string unlisted =
      "IP Addr : 192.168.1.20\r\nUSER : Invalidate\r\nMachine : Invalidate";
  EXPECT_EQ(HostGetEntryInfo(text.data(), 304, record.data(), 57),
            static_cast<int32_t>(unlisted.size()));
  EXPECT_STREQ(text.data(), unlisted.c_str());

  // The longest names make 317 characters; a 304-byte buffer gets 303 and the terminator.
  Bytes far(60);
  ASSERT_EQ(
      BuildEntryRecord(far.data(), far.size(), SocketAddress(192, 168, 100, 200).data(), "", 16),
      60);
  const std::string user(256, 'u');
  AddPeer(SocketAddress(192, 168, 100, 200), "Long", {}, 0, user.c_str(), "MACHINE-1234567");
  const std::string full =
      "IP Addr : 192.168.100.200\r\nUSER : " + user + "\r\nMachine : MACHINE-1234567";
  ASSERT_EQ(full.size(), 317u);
  std::vector<char> exact(304, '#');
  exact.resize(304 + 16, static_cast<char>(kCanary));
  EXPECT_EQ(HostGetEntryInfo(exact.data(), 304, far.data(), 60), 303);
  EXPECT_EQ(std::string(exact.data()), full.substr(0, 303));
  EXPECT_EQ(std::vector<char>(exact.begin() + 304, exact.end()),
            std::vector<char>(16, static_cast<char>(kCanary)));
  EXPECT_EQ(HostGetEntryInfo(text.data(), 400, far.data(), 60), 317);
  EXPECT_EQ(std::string(text.data()), full);

  // A user name longer than 256 characters does not fit and leaves "Invalidate".
  AddPeer(SocketAddress(192, 168, 100, 200), "Long", {}, 0, std::string(257, 'v').c_str(), "M");
  const std::string cut = "IP Addr : 192.168.100.200\r\nUSER : Invalidate\r\nMachine : M";
  EXPECT_EQ(HostGetEntryInfo(text.data(), 400, far.data(), 60), static_cast<int32_t>(cut.size()));
  EXPECT_EQ(std::string(text.data()), cut);

  record[8] = 1;  // not an entry record
  EXPECT_EQ(HostGetEntryInfo(text.data(), 400, record.data(), 57), 0);
}

TEST_F(HostInterfaceTest, BuiltRecordsForOtherCallers) {
  const auto address = SocketAddress(172, 16, 0, 1);
  Bytes typed(57 + 3, kCanary);
  ASSERT_EQ(BuildEntryRecord(typed.data(), typed.size(), address.data(), "172.16.0.1", 11), 55);
  Bytes expected = FixedPart(55, 1, 0, -1, address);
  const char name[] = "172.16.0.1";
  expected.insert(expected.end(), name, name + sizeof name);
  expected.resize(typed.size(), kCanary);
  EXPECT_EQ(typed, expected);
  // Too small: the size, nothing written; a name longer than its field is cut and terminated.
  Bytes small(54, kCanary);
  EXPECT_EQ(BuildEntryRecord(small.data(), small.size(), address.data(), "172.16.0.1", 11), 55);
  EXPECT_EQ(small, Bytes(54, kCanary));
  Bytes cut(48, kCanary);
  EXPECT_EQ(BuildEntryRecord(cut.data(), cut.size(), address.data(), "abcdef", 4), 48);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(cut.data() + 44)), "abc");
  EXPECT_EQ(BuildEntryRecord(cut.data(), cut.size(), address.data(), "", 0), 0);

  // The memo receiver's sender record: status 1 and no groups even for an absent peer.
  AddPeer(SocketAddress(10, 0, 0, 5), "Bob", {1, 2}, 1);
  const EntryList& list = *g_stOrgData.entryList;
  ASSERT_EQ(BuildListedEntryRecord(list, 0, nullptr, 0), 66);
  EXPECT_EQ(BuildListedEntryRecord(list, 1, nullptr, 0), -1);
  Bytes sender(66, kCanary);
  ASSERT_EQ(BuildListedEntryRecord(list, 0, sender.data(), sender.size()), 66);
  Bytes bob = FixedPart(66, 1, 0, -1, SocketAddress(10, 0, 0, 5));
  const char bob_name[] = "Bob (10.0.0.5)";
  bob.insert(bob.end(), bob_name, bob_name + sizeof bob_name);
  bob.resize(66, kCanary);
  EXPECT_EQ(sender, bob);
}

TEST_F(HostInterfaceTest, LockBeforeStartUpAndAtStop) {
  // Before start-up nothing waits and nothing is touched, even while the lock is held.
  ASSERT_EQ(g_stOrgData.entryList->Wait(platform::kInfinite), 1);
  g_stOrgData.initialized = 0;
  auto locked = std::async(std::launch::async, [] { return HostLockEntryList(); });
  ASSERT_EQ(locked.wait_for(std::chrono::seconds(20)), std::future_status::ready)
      << "LockEntryList blocked before start-up";
  EXPECT_EQ(locked.get(), 0);
  EXPECT_EQ(HostUnlockEntryList(), 0);
  EXPECT_EQ(HostGetEntryCount(), 0);
  EXPECT_EQ(HostGetEntryData(0, nullptr, 0), -1);
  EXPECT_EQ(HostGetGroupCount(), 0);
  EXPECT_EQ(HostGetGroupData(0, nullptr, 0), -1);
  // The lock is still the test's own: nobody released it.
  EXPECT_EQ(g_stOrgData.entryList->Wait(0), 0);

  // A set stop event ends the wait with 0, without the lock and without a node-list table.
  g_stOrgData.initialized = 1;
  g_stOrgData.seedType = 0;
  platform::SetEventObject(g_stOrgData.stopEvent);
  auto stopped = std::async(std::launch::async, [] { return HostLockEntryList(); });
  ASSERT_EQ(stopped.wait_for(std::chrono::seconds(20)), std::future_status::ready)
      << "LockEntryList ignored the stop event";
  EXPECT_EQ(stopped.get(), 0);
  EXPECT_EQ(g_stOrgData.nodeListGroups, nullptr);
  g_stOrgData.entryList->Release();

  // Unstopped, the lock is taken and given back.
  platform::ResetEventObject(g_stOrgData.stopEvent);
  ASSERT_EQ(HostLockEntryList(), 1);
  EXPECT_EQ(g_stOrgData.entryList->Wait(0), 0);
  EXPECT_EQ(HostUnlockEntryList(), 1);
  EXPECT_EQ(g_stOrgData.entryList->Wait(0), 1);
  g_stOrgData.entryList->Release();
}

}  // namespace
}  // namespace pb
