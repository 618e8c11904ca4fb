// entry_list_test.cc: EntryList: order rules, replacement in place, removal, every
// accessor at its boundary capacities, the lock and WaitOrStop, and out-of-memory results.
#include "store/entry_list.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "store/alloc_failure_for_test.h"
#include "wire/byte_order.h"
#include "wire/entry_command.h"

namespace pb {
namespace {

using Address = std::array<uint8_t, 16>;

Address MakeAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t port = 7129) {
  Address address{};
  address[0] = 2;  // AF_INET, host order on the little-endian targets
  address[2] = static_cast<uint8_t>(port >> 8);
  address[3] = static_cast<uint8_t>(port);
  address[4] = a;
  address[5] = b;
  address[6] = c;
  address[7] = d;
  return address;
}

uint32_t Ipv4(const Address& address) {
  uint32_t v;
  std::memcpy(&v, address.data() + 4, 4);
  return v;
}

std::vector<uint8_t> Command(const char* nickname, int32_t argument = 0, const char* user = "user",
                             const char* machine = "PC") {
  EntryCommandBuffer buffer = BuildEntryCommand(2, argument, nickname, "G", user, machine, 0);
  return std::vector<uint8_t>(buffer.data(), buffer.data() + buffer.size());
}

struct ListDeleter {
  void operator()(EntryList* list) const { EntryList::Destroy(list); }
};
using ListPtr = std::unique_ptr<EntryList, ListDeleter>;

ListPtr NewList() {
  ListPtr list(EntryList::Create());
  EXPECT_NE(list, nullptr);
  return list;
}

int32_t Upsert(EntryList& list, const Address& address, const std::vector<uint8_t>& command,
               const std::vector<int32_t>& ids = {}) {
  return list.Upsert(address.data(), command.data(), ids.empty() ? nullptr : ids.data(),
                     static_cast<int32_t>(ids.size()));
}

std::string Nickname(const EntryList& list, int32_t index) {
  char buffer[256];
  const int32_t n = list.GetNickname(index, buffer, sizeof buffer);
  return n < 0 ? "<none>" : std::string(buffer, static_cast<size_t>(n));
}

std::vector<std::string> Nicknames(const EntryList& list) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < list.Count(); ++i) names.push_back(Nickname(list, i));
  return names;
}

Address StoredAddress(const EntryList& list, int32_t index) {
  Address address{};
  EXPECT_EQ(list.GetAddress(index, address.data(), 16), 16);
  return address;
}

std::vector<int32_t> Ids(const EntryList& list, int32_t index) {
  std::vector<int32_t> ids(static_cast<size_t>(list.GetGroupIdCount(index)));
  list.GetGroupIds(index, ids.data(), static_cast<int32_t>(ids.size()));
  return ids;
}

// --- Order rules ---------------------------------------------------------------------------

TEST(EntryList, CreateGivesAnEmptyListWithALock) {
  ListPtr list = NewList();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_NE(list->lock(), nullptr);
  EXPECT_EQ(list->Clear(), 1);
  EntryList::Destroy(nullptr);
}

TEST(EntryList, UpsertWithAnotherPortReplacesInPlace) {
  ListPtr list = NewList();
  const Address first = MakeAddress(10, 0, 0, 5, 7129);
  EXPECT_EQ(Upsert(*list, first, Command("Bob"), {1, 2}), 1);
  EXPECT_EQ(list->Count(), 1);

  const Address second = MakeAddress(10, 0, 0, 5, 9000);
  EXPECT_EQ(Upsert(*list, second, Command("Robert", 3), {7}), 1);
  EXPECT_EQ(list->Count(), 1);
  EXPECT_EQ(Nickname(*list, 0), "Robert");
  EXPECT_EQ(StoredAddress(*list, 0), second);
  EXPECT_EQ(Ids(*list, 0), (std::vector<int32_t>{7}));
  EXPECT_EQ(list->GetStatus(0), 2);
}

TEST(EntryList, UpdateKeepsOrderNewPeerGoesToTheEnd) {
  ListPtr list = NewList();
  const Address p = MakeAddress(10, 0, 0, 1), q = MakeAddress(10, 0, 0, 2),
                r = MakeAddress(10, 0, 0, 3), s = MakeAddress(10, 0, 0, 4);
  Upsert(*list, p, Command("P"));
  Upsert(*list, q, Command("Q"));
  Upsert(*list, r, Command("R"));
  EXPECT_EQ(Upsert(*list, q, Command("Q2")), 1);
  EXPECT_EQ(Nicknames(*list), (std::vector<std::string>{"P", "Q2", "R"}));
  Upsert(*list, s, Command("S"));
  Upsert(*list, p, Command("P2"));
  EXPECT_EQ(Nicknames(*list), (std::vector<std::string>{"P2", "Q2", "R", "S"}));
  EXPECT_EQ(list->FindByAddress(Ipv4(r)), 2);
  EXPECT_EQ(list->FindByAddress(Ipv4(s)), 3);
}

TEST(EntryList, FamilyPortAndPaddingAreNotCompared) {
  ListPtr list = NewList();
  Address a = MakeAddress(192, 168, 1, 9, 1);
  Address b = MakeAddress(192, 168, 1, 9, 2);
  b[0] = 23;
  b[15] = 0xFF;
  Upsert(*list, a, Command("A"));
  Upsert(*list, b, Command("B"));
  EXPECT_EQ(list->Count(), 1);
  EXPECT_EQ(list->Remove(MakeAddress(192, 168, 1, 9, 77).data()), 1);
  EXPECT_EQ(list->Count(), 0);
}

TEST(EntryList, RemoveClosesTheGap) {
  ListPtr list = NewList();
  const Address p = MakeAddress(10, 0, 0, 1), q = MakeAddress(10, 0, 0, 2),
                r = MakeAddress(10, 0, 0, 3);
  Upsert(*list, p, Command("P"));
  Upsert(*list, q, Command("Q"));
  Upsert(*list, r, Command("R"));
  EXPECT_EQ(list->Remove(q.data()), 1);
  EXPECT_EQ(list->Count(), 2);
  EXPECT_EQ(Nicknames(*list), (std::vector<std::string>{"P", "R"}));
  EXPECT_EQ(list->FindByAddress(Ipv4(q)), -1);
  EXPECT_EQ(list->FindByAddress(Ipv4(r)), 1);
  EXPECT_EQ(list->Remove(q.data()), 0);
  Upsert(*list, q, Command("Q"));  // comes back at the end
  EXPECT_EQ(Nicknames(*list), (std::vector<std::string>{"P", "R", "Q"}));
  EXPECT_EQ(list->Remove(p.data()), 1);
  EXPECT_EQ(list->Remove(q.data()), 1);
  EXPECT_EQ(Nicknames(*list), (std::vector<std::string>{"R"}));
  EXPECT_EQ(list->Remove(r.data()), 1);
  EXPECT_EQ(list->Count(), 0);
}

TEST(EntryList, RemoveOnEmptyOrUnknownChangesNothing) {
  ListPtr list = NewList();
  EXPECT_EQ(list->Remove(MakeAddress(10, 0, 0, 1).data()), 0);
  EXPECT_EQ(list->Count(), 0);
  Upsert(*list, MakeAddress(10, 0, 0, 1), Command("P"));
  EXPECT_EQ(list->Remove(MakeAddress(10, 0, 0, 2).data()), 0);
  EXPECT_EQ(list->Remove(nullptr), 0);
  EXPECT_EQ(Nicknames(*list), (std::vector<std::string>{"P"}));
}

TEST(EntryList, ClearEmptiesAndTheListIsUsableAgain) {
  ListPtr list = NewList();
  for (uint8_t i = 1; i <= 5; ++i) Upsert(*list, MakeAddress(10, 0, 0, i), Command("x"));
  EXPECT_EQ(list->Clear(), 1);
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(list->FindByAddress(Ipv4(MakeAddress(10, 0, 0, 1))), -1);
  Upsert(*list, MakeAddress(10, 0, 0, 3), Command("y"));
  EXPECT_EQ(list->FindByAddress(Ipv4(MakeAddress(10, 0, 0, 3))), 0);
}

TEST(EntryList, ManyPeersKeepIndexesConsistent) {
  ListPtr list = NewList();
  constexpr int kPeers = 5000;
  for (int i = 0; i < kPeers; ++i) {
    ASSERT_EQ(
        Upsert(*list, MakeAddress(10, 1, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)),
               Command(std::to_string(i).c_str())),
        1);
  }
  for (int i = 0; i < kPeers; i += 2) {
    ASSERT_EQ(list->Remove(
                  MakeAddress(10, 1, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)).data()),
              1);
  }
  ASSERT_EQ(list->Count(), kPeers / 2);
  for (int32_t index = 0; index < list->Count(); ++index) {
    const int i = 2 * index + 1;
    ASSERT_EQ(Nickname(*list, index), std::to_string(i));
    ASSERT_EQ(list->FindByAddress(
                  Ipv4(MakeAddress(10, 1, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)))),
              index);
  }
}

// --- Accessors -----------------------------------------------------------------------------

class EntryListAccessors : public ::testing::Test {
 protected:
  void SetUp() override {
    list_ = NewList();
    ASSERT_EQ(
        Upsert(*list_, MakeAddress(10, 0, 0, 5), Command("Bob", 0, "alice", "PC-01"), {3, 1, 4}),
        1);
    ASSERT_EQ(Upsert(*list_, MakeAddress(255, 255, 255, 255), Command("Max", 9), {}), 1);
  }
  ListPtr list_;
};

TEST_F(EntryListAccessors, DisplayNameBoundaries) {
  char buffer[64];
  EXPECT_EQ(list_->GetDisplayName(0, nullptr, 64, nullptr), 21);
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(list_->GetDisplayName(0, buffer, 21, nullptr), 21);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(list_->GetDisplayName(0, buffer, 22, nullptr), 14);
  EXPECT_STREQ(buffer, "Bob (10.0.0.5)");
  EXPECT_EQ(buffer[15], '#');
  EXPECT_EQ(list_->GetDisplayName(0, buffer, 0, nullptr), 21);
  EXPECT_EQ(list_->GetDisplayName(0, buffer, -5, nullptr), 21);
  // The longest address fills exactly the needed size.
  EXPECT_EQ(list_->GetDisplayName(1, buffer, 22, nullptr), 21);
  EXPECT_STREQ(buffer, "Max (255.255.255.255)");
}

TEST_F(EntryListAccessors, DisplayNameOverride) {
  char buffer[64];
  EXPECT_EQ(list_->GetDisplayName(0, nullptr, 0, "Robert"), 24);
  EXPECT_EQ(list_->GetDisplayName(0, buffer, 24, "Robert"), 24);
  EXPECT_EQ(list_->GetDisplayName(0, buffer, 25, "Robert"), 17);
  EXPECT_STREQ(buffer, "Robert (10.0.0.5)");
  EXPECT_EQ(list_->GetDisplayName(0, buffer, 19, ""), 2 + 8 + 1);
  EXPECT_STREQ(buffer, " (10.0.0.5)");
}

TEST_F(EntryListAccessors, AddressTextBoundaries) {
  char buffer[32];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(list_->GetAddressText(0, nullptr, 32), 16);
  EXPECT_EQ(list_->GetAddressText(0, buffer, 16), 16);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(list_->GetAddressText(0, buffer, 17), 8);
  EXPECT_STREQ(buffer, "10.0.0.5");
  EXPECT_EQ(list_->GetAddressText(1, buffer, 17), 15);
  EXPECT_STREQ(buffer, "255.255.255.255");
}

TEST_F(EntryListAccessors, AddressBoundaries) {
  const Address expected = MakeAddress(10, 0, 0, 5);
  uint8_t buffer[64];
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(list_->GetAddress(0, buffer, 8), 8);
  EXPECT_EQ(std::memcmp(buffer, expected.data(), 8), 0);
  EXPECT_EQ(buffer[8], 0xEE);
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(list_->GetAddress(0, buffer, 64), 16);
  EXPECT_EQ(std::memcmp(buffer, expected.data(), 16), 0);
  EXPECT_EQ(buffer[16], 0xEE);
  EXPECT_EQ(list_->GetAddress(0, nullptr, 64), 16);
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(list_->GetAddress(0, buffer, 0), 16);
  EXPECT_EQ(list_->GetAddress(0, buffer, -1), 16);
  EXPECT_EQ(buffer[0], 0xEE);
}

TEST_F(EntryListAccessors, StringRule) {
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(list_->GetLogonUser(0, nullptr, 16), 5);
  EXPECT_EQ(list_->GetLogonUser(0, buffer, 5), 5);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(list_->GetLogonUser(0, buffer, 6), 5);
  EXPECT_STREQ(buffer, "alice");
  EXPECT_EQ(buffer[6], '#');

  EXPECT_EQ(list_->GetNickname(0, buffer, 3), 3);
  EXPECT_EQ(list_->GetNickname(0, buffer, 4), 3);
  EXPECT_STREQ(buffer, "Bob");
  EXPECT_EQ(list_->GetMachineName(0, buffer, 5), 5);
  EXPECT_EQ(list_->GetMachineName(0, buffer, 6), 5);
  EXPECT_STREQ(buffer, "PC-01");
  EXPECT_EQ(list_->GetMachineName(0, buffer, -1), 5);
}

TEST_F(EntryListAccessors, GroupIds) {
  EXPECT_EQ(list_->GetGroupIdCount(0), 3);
  EXPECT_EQ(list_->GetGroupIdCount(1), 0);
  int32_t ids[4] = {-9, -9, -9, -9};
  list_->GetGroupIds(0, ids, 2);
  EXPECT_EQ(ids[0], 3);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], -9);
  list_->GetGroupIds(0, ids, 4);
  EXPECT_EQ(ids[2], 4);
  EXPECT_EQ(ids[3], -9);
  int32_t untouched = -9;
  list_->GetGroupIds(0, &untouched, 0);
  list_->GetGroupIds(0, &untouched, -3);
  list_->GetGroupIds(1, &untouched, 1);
  list_->GetGroupIds(0, nullptr, 4);
  EXPECT_EQ(untouched, -9);
}

TEST_F(EntryListAccessors, Status) {
  EXPECT_EQ(list_->GetStatus(0), 1);
  EXPECT_EQ(list_->GetStatus(1), 2);
  Upsert(*list_, MakeAddress(1, 2, 3, 4), Command("neg", -1));
  EXPECT_EQ(list_->GetStatus(2), 2);
}

TEST_F(EntryListAccessors, IndexEqualToCountIsNotFound) {
  for (int32_t index : {list_->Count(), -1, INT32_MIN, INT32_MAX}) {
    char text[64] = "#";
    uint8_t bytes[16] = {0xEE};
    int32_t id = -9;
    EXPECT_EQ(list_->GetAddress(index, bytes, 16), 0);
    EXPECT_EQ(list_->GetDisplayName(index, text, 64, nullptr), -1);
    EXPECT_EQ(list_->GetDisplayName(index, nullptr, 0, "x"), -1);
    EXPECT_EQ(list_->GetGroupIdCount(index), 0);
    EXPECT_EQ(list_->GetStatus(index), 0);
    EXPECT_EQ(list_->GetNickname(index, text, 64), -1);
    EXPECT_EQ(list_->GetLogonUser(index, text, 64), -1);
    EXPECT_EQ(list_->GetMachineName(index, text, 64), -1);
    EXPECT_EQ(list_->GetAddressText(index, text, 64), -1);
    list_->GetGroupIds(index, &id, 1);
    EXPECT_EQ(id, -9);
    EXPECT_STREQ(text, "#");
    EXPECT_EQ(bytes[0], 0xEE);
  }
  EXPECT_EQ(list_->FindByAddress(Ipv4(MakeAddress(9, 9, 9, 9))), -1);
}

TEST(EntryListStoredCommand, ReadsWhatTheValidatorAllowsAndNoMore) {
  // Strings need not be packed from 44: the stored copy is read where its offsets point.
  std::vector<uint8_t> command = Command("Bob", 0, "u", "PC");
  WriteLe32(command.data() + kEntryNicknameOffsetField, 4);  // "WrenMct"
  WriteLe32(command.data() + kEntryGroupOffsetField, 0);     // no groups
  WriteLe32(command.data() + kEntryUserOffsetField, 44);     // "Bob"
  ListPtr list = NewList();
  ASSERT_EQ(Upsert(*list, MakeAddress(1, 1, 1, 1), command), 1);
  char buffer[32];
  EXPECT_EQ(list->GetNickname(0, buffer, 32), 7);
  EXPECT_STREQ(buffer, "WrenMct");
  EXPECT_EQ(list->GetLogonUser(0, buffer, 32), 3);
  EXPECT_STREQ(buffer, "Bob");
  EXPECT_EQ(list->GetMachineName(0, buffer, 32), 2);
  EXPECT_STREQ(buffer, "PC");
}

TEST(EntryListStoredCommand, MalformedCommandIsNotStored) {
  ListPtr list = NewList();
  Upsert(*list, MakeAddress(1, 1, 1, 1), Command("Old"));
  std::vector<uint8_t> bad = Command("Bob");
  WriteLe32(bad.data() + kEntryComputerOffsetField, static_cast<uint32_t>(bad.size()));
  EXPECT_EQ(Upsert(*list, MakeAddress(1, 1, 1, 1), bad), 0);
  std::vector<uint8_t> unterminated = Command("Bob");
  unterminated.back() = 'x';
  EXPECT_EQ(Upsert(*list, MakeAddress(1, 1, 1, 2), unterminated), 0);
  EXPECT_EQ(Nicknames(*list), (std::vector<std::string>{"Old"}));
  EXPECT_EQ(list->Upsert(MakeAddress(1, 1, 1, 3).data(), nullptr, nullptr, 0), 0);
  const std::vector<uint8_t> good = Command("x");
  EXPECT_EQ(list->Upsert(nullptr, good.data(), nullptr, 0), 0);
  EXPECT_EQ(list->Upsert(MakeAddress(1, 1, 1, 3).data(), good.data(), nullptr, 2), 0);
  EXPECT_EQ(list->Count(), 1);
}

TEST(EntryListStoredCommand, NegativeIdCountStoresNoIds) {
  ListPtr list = NewList();
  const std::vector<uint8_t> command = Command("x");
  const int32_t id = 5;
  EXPECT_EQ(list->Upsert(MakeAddress(1, 1, 1, 1).data(), command.data(), &id, -3), 1);
  EXPECT_EQ(list->GetGroupIdCount(0), 0);
}

// --- Out of memory -------------------------------------------------------------------------

// Fails each allocation of one Upsert in turn (once, and from there on); every failure returns
// 0 and leaves the list exactly as it was.
void CheckUpsertUnderFailure(EntryList& list, const Address& address, const char* nickname) {
  const std::vector<uint8_t> command = Command(nickname);
  const std::vector<int32_t> ids = {1};
  for (bool persistent : {false, true}) {
    for (long k = 0;; ++k) {
      const std::vector<std::string> before = Nicknames(list);
      int32_t result;
      long failures;
      {
        test::ScopedAllocationFailure failure(k, persistent);
        result = Upsert(list, address, command, ids);
        failures = failure.failures();
      }
      if (failures == 0) {
        ASSERT_EQ(result, 1);
        list.Remove(address.data());
        break;
      }
      ASSERT_EQ(result, 0) << k;
      ASSERT_EQ(Nicknames(list), before) << k;
      ASSERT_LT(k, 100);
    }
  }
}

TEST(EntryListOutOfMemory, UpsertOfANewPeerLeavesTheListUnchanged) {
  ListPtr list = NewList();
  for (uint8_t i = 1; i <= 16; ++i) {
    // 16 peers fill the first reservation: the 17th needs the array and the hash to grow.
    CheckUpsertUnderFailure(*list, MakeAddress(10, 0, 1, i), "new");
    Upsert(*list, MakeAddress(10, 0, 0, i), Command(std::to_string(i).c_str()));
  }
  CheckUpsertUnderFailure(*list, MakeAddress(10, 0, 1, 200), "new");
  EXPECT_EQ(list->Count(), 16);
}

TEST(EntryListOutOfMemory, ReplacementKeepsTheOldNode) {
  ListPtr list = NewList();
  Upsert(*list, MakeAddress(10, 0, 0, 1), Command("P"));
  Upsert(*list, MakeAddress(10, 0, 0, 2), Command("Q"));
  const std::vector<int32_t> ids = {4};
  const std::vector<uint8_t> command = Command("P2");
  int32_t result;
  {
    test::ScopedAllocationFailure failure(0);
    result = Upsert(*list, MakeAddress(10, 0, 0, 1, 1), command, ids);
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Nicknames(*list), (std::vector<std::string>{"P", "Q"}));
  EXPECT_EQ(StoredAddress(*list, 0), MakeAddress(10, 0, 0, 1));
  EXPECT_EQ(list->GetGroupIdCount(0), 0);
}

// --- Lock ----------------------------------------------------------------------------------

TEST(EntryListLock, SemaphoreOfCountOne) {
  ListPtr list = NewList();
  EXPECT_EQ(list->Wait(0), 1);
  EXPECT_EQ(list->Wait(0), 0);  // not re-entrant
  EXPECT_EQ(list->Wait(20), 0);
  EXPECT_EQ(list->Release(), 1);
  EXPECT_EQ(list->Wait(platform::kInfinite), 1);
  // Any thread may release.
  std::thread other([&] { list->Release(); });
  other.join();
  EXPECT_EQ(list->Wait(0), 1);
  list->Release();
}

TEST(EntryListLock, WaitOrStopTakesTheFreeLock) {
  ListPtr list = NewList();
  platform::UniqueHandle stop(platform::CreateEventObject(true, false));
  ASSERT_TRUE(stop);
  EXPECT_EQ(list->WaitOrStop(stop.get()), 1);
  EXPECT_EQ(list->Wait(0), 0);
  list->Release();
  EXPECT_EQ(list->WaitOrStop(nullptr), 1);  // no stop event: a plain wait
  list->Release();
}

TEST(EntryListLock, StopWinsOverAFreeLockAndLeavesItFree) {
  ListPtr list = NewList();
  platform::UniqueHandle stop(platform::CreateEventObject(true, true));
  ASSERT_TRUE(stop);
  EXPECT_EQ(list->WaitOrStop(stop.get()), 0);
  EXPECT_EQ(list->Wait(0), 1);  // the lock was not consumed
  list->Release();
}

TEST(EntryListLock, WaitOrStopReturnsZeroWhenStopIsSetWhileTheLockIsHeld) {
  ListPtr list = NewList();
  platform::UniqueHandle stop(platform::CreateEventObject(true, false));
  ASSERT_TRUE(stop);
  ASSERT_EQ(list->Wait(platform::kInfinite), 1);  // the "host" holds the lock

  std::atomic<int32_t> result{-1};
  std::thread worker([&] { result = list->WaitOrStop(stop.get()); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(result.load(), -1);  // still blocked behind the holder
  ASSERT_TRUE(platform::SetEventObject(stop.get()));
  worker.join();
  EXPECT_EQ(result.load(), 0);

  list->Release();
  EXPECT_EQ(list->Wait(0), 1);  // the worker took nothing
  list->Release();
}

TEST(EntryListLock, WaitOrStopGetsTheLockWhenReleased) {
  ListPtr list = NewList();
  platform::UniqueHandle stop(platform::CreateEventObject(true, false));
  ASSERT_TRUE(stop);
  ASSERT_EQ(list->Wait(platform::kInfinite), 1);
  std::atomic<int32_t> result{-1};
  std::thread worker([&] { result = list->WaitOrStop(stop.get()); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  list->Release();
  worker.join();
  EXPECT_EQ(result.load(), 1);
  EXPECT_EQ(list->Wait(0), 0);  // now the worker's
  list->Release();
}

}  // namespace
}  // namespace pb
