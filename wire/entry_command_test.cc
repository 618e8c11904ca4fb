// entry_command_test.cc: the entry command written byte for byte, the reader's checks in their
// order, and malformed datagrams rejected without reading outside them (run under ASan too).
#include "wire/entry_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "store/alloc_failure_for_test.h"
#include "store/instance.h"
#include "wire/byte_order.h"

namespace pb {
namespace {

std::vector<uint8_t> Bytes(const EntryCommandBuffer& buffer) {
  return std::vector<uint8_t>(buffer.data(), buffer.data() + buffer.size());
}

std::vector<uint8_t> Build(int32_t command, int32_t argument, const char* nickname,
                           const char* group, const char* user, const char* computer,
                           uint32_t key) {
  EntryCommandBuffer buffer =
      BuildEntryCommand(command, argument, nickname, group, user, computer, key);
  EXPECT_FALSE(buffer.empty());
  return Bytes(buffer);
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  WriteLe32(bytes.data() + at, value);
}

// A heap copy of exactly bytes.size() bytes, so that ASan reports any read past the end.
struct ExactCopy {
  explicit ExactCopy(const std::vector<uint8_t>& bytes)
      : size(bytes.size()), data(new uint8_t[bytes.size() == 0 ? 1 : bytes.size()]) {
    if (size > 0) std::memcpy(data.get(), bytes.data(), size);
  }
  size_t size;
  std::unique_ptr<uint8_t[]> data;
};

bool Validate(const std::vector<uint8_t>& bytes) {
  ExactCopy copy(bytes);
  return ValidateEntryCommand(copy.data.get(), copy.size);
}

int32_t Classify(const std::vector<uint8_t>& bytes, uint32_t key) {
  ExactCopy copy(bytes);
  return ClassifyEntryCommand(copy.data.get(), copy.size, key);
}

constexpr uint32_t kKey = 0x00010002;

// --- Writing -------------------------------------------------------------------------------

TEST(EntryCommandWrite, AllStringsEmptyGive48BytesAndOffsets44To47) {
  const std::vector<uint8_t> bytes = Build(1, 0, "", "", "", "", 0);
  // clang-format off
  const std::vector<uint8_t> expected = {
      48, 0, 0, 0,                              // total size
      'W', 'r', 'e', 'n', 'M', 'c', 't', 0,     // magic
      0, 1, 0, 0,                               // version 256
      1, 0, 0, 0,                               // command
      0, 0, 0, 0,                               // argument
      0, 0, 0, 0,                               // domain key
      44, 0, 0, 0, 45, 0, 0, 0, 46, 0, 0, 0, 47, 0, 0, 0,
      0, 0, 0, 0};
  // clang-format on
  EXPECT_EQ(bytes, expected);
}

TEST(EntryCommandWrite, NullStringsCountAsEmpty) {
  EXPECT_EQ(Build(1, 0, nullptr, nullptr, nullptr, nullptr, 0), Build(1, 0, "", "", "", "", 0));
}

TEST(EntryCommandWrite, LengthsThreeFiveOneThreeGiveSixtyBytesByteForByte) {
  const std::vector<uint8_t> bytes = Build(2, 7, "Bob", "Sales", "b", "PC1", 0xA1B2C3D4);
  // clang-format off
  const std::vector<uint8_t> expected = {
      60, 0, 0, 0,
      'W', 'r', 'e', 'n', 'M', 'c', 't', 0,
      0x00, 0x01, 0x00, 0x00,
      2, 0, 0, 0,
      7, 0, 0, 0,
      0xD4, 0xC3, 0xB2, 0xA1,
      44, 0, 0, 0, 48, 0, 0, 0, 54, 0, 0, 0, 56, 0, 0, 0,
      'B', 'o', 'b', 0,
      'S', 'a', 'l', 'e', 's', 0,
      'b', 0,
      'P', 'C', '1', 0};
  // clang-format on
  EXPECT_EQ(bytes, expected);
}

TEST(EntryCommandWrite, NegativeArgumentIsTwosComplement) {
  const std::vector<uint8_t> bytes = Build(2, -2, "", "", "", "", 0);
  EXPECT_EQ(bytes[20], 0xFE);
  EXPECT_EQ(bytes[21], 0xFF);
  EXPECT_EQ(bytes[22], 0xFF);
  EXPECT_EQ(bytes[23], 0xFF);
}

TEST(EntryCommandWrite, AnInstanceSendsItsOwnIdentity) {
  std::shared_ptr<Instance> instance = Instance::Create();
  ASSERT_TRUE(instance);
  instance->settings.nickname = "Bob";
  instance->settings.group = "Sales";
  instance->settings.domainKey = 0xA1B2C3D4;
  instance->logon_user = "b";
  instance->computer_name = "PC1";
  EXPECT_EQ(Bytes(instance->OwnEntryCommand(2, 7)),
            Build(2, 7, "Bob", "Sales", "b", "PC1", 0xA1B2C3D4));
}

TEST(EntryCommandWrite, OutOfMemoryGivesAnEmptyBuffer) {
  test::ScopedAllocationFailure failure(0);
  EntryCommandBuffer buffer = BuildEntryCommand(1, 0, "Bob", "G", "b", "PC", 0);
  EXPECT_TRUE(buffer.empty());
  EXPECT_FALSE(buffer);
  EXPECT_EQ(buffer.size(), 0u);
  EXPECT_EQ(buffer.data(), nullptr);
}

TEST(EntryCommandWrite, WrittenDatagramPassesAndReadsBack) {
  const std::vector<uint8_t> bytes = Build(1, 3, "Bob", "A>B&C", "bob", "PC1", kKey);
  ExactCopy copy(bytes);
  ASSERT_TRUE(ValidateEntryCommand(copy.data.get(), copy.size));
  const uint8_t* d = copy.data.get();
  EXPECT_TRUE(EntryCommandHasMagic(d));
  EXPECT_TRUE(EntryCommandDomainMatches(d, kKey));
  EXPECT_EQ(EntryCommandType(d), 1);
  EXPECT_EQ(EntryCommandSize(d), bytes.size());
  EXPECT_EQ(EntryCommandArgument(d), 3);
  EXPECT_EQ(EntryCommandDomainKey(d), kKey);
  EXPECT_STREQ(EntryCommandNickname(d), "Bob");
  EXPECT_STREQ(EntryCommandGroup(d), "A>B&C");
  EXPECT_STREQ(EntryCommandLogonUser(d), "bob");
  EXPECT_STREQ(EntryCommandComputerName(d), "PC1");
  EXPECT_EQ(ClassifyEntryCommand(d, copy.size, kKey), 1);
}

// --- The documented checks -----------------------------------------------------------------

TEST(EntryCommandRead, MagicFollowedByNonNulIsDropped) {
  std::vector<uint8_t> bytes = Build(2, 0, "Bob", "G", "b", "PC", kKey);
  bytes[11] = 'x';  // "WrenMctx..." is another string
  EXPECT_TRUE(Validate(bytes));
  EXPECT_EQ(Classify(bytes, kKey), 0);
  ExactCopy copy(bytes);
  EXPECT_FALSE(EntryCommandHasMagic(copy.data.get()));
}

TEST(EntryCommandRead, OtherMagicsAreDropped) {
  for (const char* magic : {"wrenmct", "WrenMcu", "WrenMc\0", "\0renMct"}) {
    std::vector<uint8_t> bytes = Build(2, 0, "Bob", "G", "b", "PC", kKey);
    std::memcpy(bytes.data() + 4, magic, 8);
    EXPECT_EQ(Classify(bytes, kKey), 0) << magic;
  }
}

TEST(EntryCommandRead, OtherDomainKeyIsDropped) {
  const std::vector<uint8_t> bytes = Build(2, 0, "Bob", "G", "b", "PC", kKey);
  EXPECT_EQ(Classify(bytes, kKey), 2);
  EXPECT_EQ(Classify(bytes, kKey + 1), 0);
  EXPECT_EQ(Classify(bytes, 0), 0);
  EXPECT_EQ(Classify(bytes, 0x00020001), 0);  // the halves swapped
}

TEST(EntryCommandRead, OnlyCommandsOneToThreeAreKept) {
  for (int32_t command : {1, 2, 3}) {
    EXPECT_EQ(Classify(Build(command, 0, "a", "b", "c", "d", kKey), kKey), command);
  }
  for (int32_t command : {0, 4, -1, 256, INT32_MIN}) {
    EXPECT_EQ(Classify(Build(command, 0, "a", "b", "c", "d", kKey), kKey), 0) << command;
  }
}

TEST(EntryCommandRead, GroupOffsetBelow44MeansNoGroups) {
  for (uint32_t offset : {0u, 1u, 12u, 43u}) {
    std::vector<uint8_t> bytes = Build(2, 0, "Bob", "Sales", "b", "PC", kKey);
    Put32(bytes, kEntryGroupOffsetField, offset);
    ExactCopy copy(bytes);
    ASSERT_TRUE(ValidateEntryCommand(copy.data.get(), copy.size)) << offset;
    EXPECT_EQ(EntryCommandGroup(copy.data.get()), nullptr) << offset;
    EXPECT_EQ(ClassifyEntryCommand(copy.data.get(), copy.size, kKey), 2);
  }
  std::vector<uint8_t> bytes = Build(2, 0, "", "Sales", "b", "PC", kKey);
  ASSERT_EQ(ReadLe32(bytes.data() + kEntryGroupOffsetField), 45u);
  Put32(bytes, kEntryGroupOffsetField, 44);  // the boundary is used: the (empty) nickname
  ExactCopy copy(bytes);
  ASSERT_TRUE(ValidateEntryCommand(copy.data.get(), copy.size));
  ASSERT_NE(EntryCommandGroup(copy.data.get()), nullptr);
  EXPECT_STREQ(EntryCommandGroup(copy.data.get()), "");
}

TEST(EntryCommandRead, NegativeGroupOffsetCountsAsLargeAndIsOutside) {
  std::vector<uint8_t> bytes = Build(2, 0, "Bob", "Sales", "b", "PC", kKey);
  Put32(bytes, kEntryGroupOffsetField, 0xFFFFFFFFu);
  EXPECT_FALSE(Validate(bytes));
  Put32(bytes, kEntryGroupOffsetField, 0x80000000u);
  EXPECT_FALSE(Validate(bytes));
}

TEST(EntryCommandRead, OffsetsIntoTheHeaderAreInsideAndReadSafely) {
  // Nothing requires a string to start at 44; a validated datagram is read where it points.
  std::vector<uint8_t> bytes = Build(2, 0, "Bob", "G", "b", "PC", kKey);
  Put32(bytes, kEntryNicknameOffsetField, 4);   // the magic
  Put32(bytes, kEntryUserOffsetField, 53);      // the computer name's last character
  Put32(bytes, kEntryComputerOffsetField, 44);  // the nickname
  ExactCopy copy(bytes);
  ASSERT_TRUE(ValidateEntryCommand(copy.data.get(), copy.size));
  EXPECT_STREQ(EntryCommandNickname(copy.data.get()), "WrenMct");
  EXPECT_STREQ(EntryCommandLogonUser(copy.data.get()), "C");
  EXPECT_STREQ(EntryCommandComputerName(copy.data.get()), "Bob");
}

// --- Malformed datagrams -------------------------------------------------------------------

TEST(EntryCommandMalformed, NullAndShortAreRejected) {
  EXPECT_FALSE(ValidateEntryCommand(nullptr, 48));
  EXPECT_FALSE(ValidateEntryCommand(nullptr, 0));
  EXPECT_EQ(ClassifyEntryCommand(nullptr, 60, kKey), 0);
  const std::vector<uint8_t> good = Build(2, 0, "", "", "", "", kKey);
  for (size_t n = 0; n < kEntryMinSize; ++n) {
    // A prefix of a good datagram, its size field claiming the short length as well.
    std::vector<uint8_t> bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    if (n >= 4) Put32(bytes, 0, static_cast<uint32_t>(n));
    EXPECT_FALSE(Validate(bytes)) << n;
    EXPECT_EQ(Classify(bytes, kKey), 0) << n;
  }
}

TEST(EntryCommandMalformed, SizeFieldMustEqualTheBytesReceived) {
  const std::vector<uint8_t> good = Build(2, 0, "Bob", "G", "b", "PC", kKey);
  ASSERT_TRUE(Validate(good));
  const uint32_t n = static_cast<uint32_t>(good.size());
  for (uint32_t field : {n - 1, n + 1, 0u, 48u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    std::vector<uint8_t> bytes = good;
    Put32(bytes, 0, field);
    EXPECT_FALSE(Validate(bytes)) << field;
  }
  // More bytes received than the field says, and fewer.
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  EXPECT_FALSE(Validate(longer));
  std::vector<uint8_t> shorter(good.begin(), good.end() - 1);
  EXPECT_FALSE(Validate(shorter));
}

TEST(EntryCommandMalformed, EveryOffsetOutsideIsRejected) {
  const std::vector<uint8_t> good = Build(2, 0, "Bob", "Sales", "b", "PC1", kKey);
  const uint32_t n = static_cast<uint32_t>(good.size());
  for (size_t field : {kEntryNicknameOffsetField, kEntryGroupOffsetField, kEntryUserOffsetField,
                       kEntryComputerOffsetField}) {
    for (uint32_t offset :
         {n, n + 1, n + 1000, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
      std::vector<uint8_t> bytes = good;
      Put32(bytes, field, offset);
      EXPECT_FALSE(Validate(bytes)) << field << " " << offset;
      EXPECT_EQ(Classify(bytes, kKey), 0);
    }
  }
}

TEST(EntryCommandMalformed, MissingTerminatorIsRejected) {
  // The computer name is last: without its NUL it runs to the end of the datagram.
  std::vector<uint8_t> bytes = Build(2, 0, "Bob", "Sales", "b", "PC1", kKey);
  bytes.back() = 'x';
  EXPECT_FALSE(Validate(bytes));

  // No NUL anywhere in the string area: every string runs off the end.
  std::vector<uint8_t> all = Build(2, 0, "Bob", "Sales", "b", "PC1", kKey);
  for (size_t i = kEntryStringsOffset; i < all.size(); ++i) all[i] = 'x';
  EXPECT_FALSE(Validate(all));
  // Only the first three strings are terminated when the last NUL is gone; each offset that
  // points past the last NUL is rejected on its own.
  for (size_t field : {kEntryNicknameOffsetField, kEntryGroupOffsetField, kEntryUserOffsetField}) {
    std::vector<uint8_t> one = Build(2, 0, "Bob", "Sales", "b", "PC1", kKey);
    one.back() = 'x';
    Put32(one, kEntryComputerOffsetField, 44);  // the computer name now points at a good string
    Put32(one, field, static_cast<uint32_t>(one.size() - 2));
    EXPECT_FALSE(Validate(one)) << field;
  }
}

TEST(EntryCommandMalformed, OffsetAtTheLastByte) {
  std::vector<uint8_t> bytes = Build(2, 0, "Bob", "Sales", "b", "PC1", kKey);
  const uint32_t last = static_cast<uint32_t>(bytes.size() - 1);
  for (size_t field : {kEntryNicknameOffsetField, kEntryGroupOffsetField, kEntryUserOffsetField,
                       kEntryComputerOffsetField}) {
    std::vector<uint8_t> at_nul = bytes;
    Put32(at_nul, field, last);  // the final NUL: an empty string, inside
    EXPECT_TRUE(Validate(at_nul)) << field;
    std::vector<uint8_t> no_nul = at_nul;
    no_nul.back() = 'x';  // the same offset, no terminator
    EXPECT_FALSE(Validate(no_nul)) << field;
  }
}

TEST(EntryCommandMalformed, HugeAndNegativeSizeFieldsOnShortBuffers) {
  std::vector<uint8_t> bytes = Build(2, 0, "", "", "", "", kKey);
  for (uint32_t field : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 65536u}) {
    Put32(bytes, 0, field);
    EXPECT_FALSE(Validate(bytes));
  }
}

// Random damage to a good datagram: whatever passes the gate is read inside its bytes only
// (ASan reports any read past the exact-size copy).
TEST(EntryCommandMalformed, MutationsThatPassAreReadInsideOnly) {
  std::mt19937 random(12345);
  const std::vector<uint8_t> good = Build(1, 1, "Nick", "A>B&C", "user", "HOST", kKey);
  int passed = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> bytes = good;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      const size_t at = random() % bytes.size();
      switch (random() % 4) {
        case 0:
          bytes[at] = static_cast<uint8_t>(random());
          break;
        case 1:
          if (at + 4 <= bytes.size()) {
            Put32(bytes, at & ~size_t{3}, static_cast<uint32_t>(random() % (bytes.size() + 8)));
          }
          break;
        case 2:
          bytes.resize(random() % (bytes.size() + 8));
          if (bytes.empty()) bytes.push_back(0);
          break;
        default:
          if (bytes.size() >= 4) Put32(bytes, 0, static_cast<uint32_t>(bytes.size()));
          break;
      }
    }
    ExactCopy copy(bytes);
    if (!ValidateEntryCommand(copy.data.get(), copy.size)) continue;
    ++passed;
    const uint8_t* d = copy.data.get();
    const char* end = reinterpret_cast<const char*>(d) + copy.size;
    for (const char* s : {EntryCommandNickname(d), EntryCommandLogonUser(d),
                          EntryCommandComputerName(d), EntryCommandGroup(d)}) {
      if (s == nullptr) continue;
      ASSERT_LT(s + std::strlen(s), end);
    }
    ClassifyEntryCommand(d, copy.size, kKey);
    EntryCommandArgument(d);
  }
  EXPECT_GT(passed, 0);
}

}  // namespace
}  // namespace pb
