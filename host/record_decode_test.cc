// record_decode_test.cc: the host's record decoders against well-formed and hostile records.
#include <gtest/gtest.h>

#include <cstring>

#include "host/records.h"
#include "host/text_escape.h"

namespace pbhost {
namespace {

void Put32(std::vector<uint8_t>* bytes, size_t offset, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

// An entry data record as the plug-in lays it out: name field of L + 1 bytes at 44, then the
// group ids.
std::vector<uint8_t> EntryRecord(const std::string& name, size_t bound,
                                 const std::vector<int32_t>& ids, int32_t status = 1) {
  const size_t ids_at = 45 + bound;
  std::vector<uint8_t> r(ids_at + 4 * ids.size(), 0xEE);
  Put32(&r, 0, static_cast<int32_t>(r.size()));
  Put32(&r, 4, 256);
  Put32(&r, 8, 2);
  Put32(&r, 12, status);
  Put32(&r, 16, static_cast<int32_t>(ids.size()));
  Put32(&r, 20, ids.empty() ? -1 : static_cast<int32_t>(ids_at));
  Put32(&r, 24, 44);
  const uint8_t address[16] = {2, 0, 0x1B, 0xD9, 10, 0, 0, 5};  // family 2, port 7129
  std::memcpy(r.data() + 28, address, sizeof address);
  std::memcpy(r.data() + 44, name.c_str(), name.size() + 1);
  for (size_t i = 0; i < ids.size(); ++i) Put32(&r, ids_at + 4 * i, ids[i]);
  return r;
}

std::vector<uint8_t> GroupRecordBytes(const std::string& name, int32_t parent) {
  std::vector<uint8_t> r(21 + name.size(), 0);
  Put32(&r, 0, static_cast<int32_t>(r.size()));
  Put32(&r, 4, 256);
  Put32(&r, 8, parent);
  Put32(&r, 16, 20);
  std::memcpy(r.data() + 20, name.c_str(), name.size() + 1);
  return r;
}

TEST(EntryRecordTest, DecodesPeerWithGroupsAndUnwrittenNameTail) {
  // Bob at 10.0.0.5 with groups 1 and 2: L = 21, so 74 bytes and the ids at 66 and 70; the
  // bytes behind the name's terminator are left as the plug-in found them.
  const auto bytes = EntryRecord("Bob (10.0.0.5)", 21, {1, 2}, 2);
  ASSERT_EQ(bytes.size(), 74u);
  std::string error;
  const auto peer = DecodeEntryRecord(bytes, &error);
  ASSERT_TRUE(peer) << error;
  EXPECT_EQ(peer->size, 74);
  EXPECT_EQ(peer->status, 2);
  EXPECT_EQ(peer->family, 2);
  EXPECT_EQ(peer->port, 7129);
  EXPECT_EQ(DottedAddress(peer->address), "10.0.0.5");
  EXPECT_EQ(peer->name, "Bob (10.0.0.5)");
  EXPECT_EQ(peer->group_ids, (std::vector<int32_t>{1, 2}));
}

TEST(EntryRecordTest, PeerWithoutGroupsIgnoresTheUnusedIdsOffset) {
  const auto bytes = EntryRecord("x (1.2.3.4)", 19, {});
  std::string error;
  const auto peer = DecodeEntryRecord(bytes, &error);
  ASSERT_TRUE(peer) << error;
  EXPECT_TRUE(peer->group_ids.empty());
  EXPECT_EQ(peer->size, 64);
}

TEST(EntryRecordTest, RejectsTruncatedRecords) {
  auto bytes = EntryRecord("Bob (10.0.0.5)", 21, {1, 2});
  std::string error;
  // Fewer bytes than the fixed part, and fewer than the record's own size field claims.
  EXPECT_FALSE(DecodeEntryRecord(std::span(bytes.data(), 43), &error));
  EXPECT_FALSE(DecodeEntryRecord(std::span(bytes.data(), bytes.size() - 1), &error));
  EXPECT_NE(error.find("size field"), std::string::npos) << error;
  // A size field below the fixed part.
  Put32(&bytes, 0, 40);
  EXPECT_FALSE(DecodeEntryRecord(bytes, &error));
}

TEST(EntryRecordTest, RejectsOffsetsOutsideTheRecord) {
  const auto good = EntryRecord("Bob (10.0.0.5)", 21, {1, 2});
  std::string error;
  struct Case {
    const char* what;
    size_t offset;
    int32_t value;
  };
  const Case cases[] = {
      {"name offset past the end", 24, 74},
      {"name offset inside the fixed part", 24, 8},
      {"negative name offset", 24, -1},
      {"ids reaching one byte past the end", 20, 67},
      {"ids inside the fixed part", 20, 40},
      {"negative ids offset", 20, -1},
      {"negative group count", 16, -1},
      {"group count whose byte length overflows 32 bits", 16, 0x40000001},
      {"one id more than the record holds", 16, 3},
  };
  for (const Case& c : cases) {
    auto bytes = good;
    Put32(&bytes, c.offset, c.value);
    EXPECT_FALSE(DecodeEntryRecord(bytes, &error)) << c.what;
  }
}

TEST(EntryRecordTest, RejectsNameWithoutTerminatorInsideTheSize) {
  // The terminator lies behind the size field's end, in bytes that were handed over but do
  // not belong to the record.
  std::vector<uint8_t> bytes = EntryRecord("abcdef", 6, {});
  bytes.push_back(0);
  Put32(&bytes, 0, 48);  // the record now ends in the middle of the name
  std::string error;
  EXPECT_FALSE(DecodeEntryRecord(bytes, &error));
  EXPECT_NE(error.find("name"), std::string::npos) << error;
}

TEST(EntryRecordTest, RejectsOtherVersionsAndKinds) {
  std::string error;
  auto bytes = EntryRecord("a (1.1.1.1)", 19, {});
  Put32(&bytes, 4, 255);
  EXPECT_FALSE(DecodeEntryRecord(bytes, &error));
  bytes = EntryRecord("a (1.1.1.1)", 19, {});
  Put32(&bytes, 8, 1);
  EXPECT_FALSE(DecodeEntryRecord(bytes, &error));
}

TEST(GroupRecordTest, DecodesAndRejects) {
  std::string error;
  const auto sales = GroupRecordBytes("Sales", -1);
  ASSERT_EQ(sales.size(), 26u);
  const auto group = DecodeGroupRecord(sales, &error);
  ASSERT_TRUE(group) << error;
  EXPECT_EQ(group->name, "Sales");
  EXPECT_EQ(group->parent, -1);

  EXPECT_FALSE(DecodeGroupRecord(std::span(sales.data(), 25), &error)) << "truncated";
  EXPECT_FALSE(DecodeGroupRecord(std::span(sales.data(), 19), &error)) << "no fixed part";
  auto bad = sales;
  bad[25] = 'x';
  EXPECT_FALSE(DecodeGroupRecord(bad, &error)) << "unterminated name";
  bad = sales;
  Put32(&bad, 16, 26);
  EXPECT_FALSE(DecodeGroupRecord(bad, &error)) << "name offset at the end";
  bad = sales;
  Put32(&bad, 8, -2);
  EXPECT_FALSE(DecodeGroupRecord(bad, &error)) << "parent below -1";
}

TEST(ReadInt32Test, ReadsLittleEndianOnlyInsideTheBytes) {
  const std::vector<uint8_t> bytes = {0x78, 0x56, 0x34, 0x12, 0xFF};
  int32_t value = 0;
  ASSERT_TRUE(ReadInt32(bytes, 0, &value));
  EXPECT_EQ(value, 0x12345678);
  ASSERT_TRUE(ReadInt32(bytes, 1, &value));
  EXPECT_EQ(value, static_cast<int32_t>(0xFF123456));
  EXPECT_FALSE(ReadInt32(bytes, 2, &value));
  EXPECT_FALSE(ReadInt32(bytes, SIZE_MAX - 1, &value));
}

TEST(GroupPathTest, FollowsParentsAndSurvivesBadTables) {
  std::vector<GroupRecord> groups(4);
  groups[0] = {26, -1, "Sales"};
  groups[1] = {25, 0, "East"};
  groups[2] = {25, 7, "Lost"};  // parent outside the table
  groups[3] = {25, 3, "Self"};  // its own parent
  EXPECT_EQ(GroupPath(groups, 1), "Sales>East");
  EXPECT_EQ(GroupPath(groups, 0), "Sales");
  EXPECT_EQ(GroupPath(groups, 2), "Lost");
  EXPECT_EQ(GroupPath(groups, 9), "#9");
  const std::string cycle = GroupPath(groups, 3);
  EXPECT_EQ(cycle.rfind("...>", 0), 0u) << cycle;
}

TEST(EscapeTest, MachineValuesStayOnOneLineAndInsideTheirQuotes) {
  EXPECT_EQ(EscapeMachine("a\"b\\c"), "a\\\"b\\\\c");
  EXPECT_EQ(EscapeMachine("IP\r\nUSER\t"), "IP\\r\\nUSER\\t");
  EXPECT_EQ(EscapeMachine("\x82\xA0\x01"), "\\x82\\xA0\\x01");
  // Shift-JIS passes to people untouched, control bytes do not.
  EXPECT_EQ(EscapeHuman("\x82\xA0\x1B[2J"), "\x82\xA0\\x1B[2J");
}

}  // namespace
}  // namespace pbhost
