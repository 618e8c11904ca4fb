// host_commands_test.cc: the host's readers and commands against a plug-in that misbehaves.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "host/command_table.h"
#include "host/entry_reader.h"
#include "host/memo_receiver.h"
#include "host/records.h"

namespace pbhost {
namespace {

// What the fake plug-in does wrong in GetEntryData.
enum class Fault { kNone, kOverrun, kSizeChanges, kSizeFieldDiffers, kNameOutside };
Fault g_fault = Fault::kNone;
int g_locks = 0;

void Put32(uint8_t* p, int32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
}

// Two peers, "ann (198.18.0.11)" in group 1 and "bob (198.18.0.12)" without groups.
int32_t BuildEntry(int32_t index, uint8_t* out) {
  const std::string name = index == 0 ? "ann (198.18.0.11)" : "bob (198.18.0.12)";
  const int32_t bound = 3 + 18;
  const int32_t ids = index == 0 ? 1 : 0;
  const int32_t size = 45 + bound + 4 * ids;
  if (out == nullptr) return size;
  Put32(out, size);
  Put32(out + 4, 256);
  Put32(out + 8, 2);
  Put32(out + 12, 1);
  Put32(out + 16, ids);
  Put32(out + 20, ids ? 45 + bound : -1);
  Put32(out + 24, 44);
  const uint8_t address[16] = {2, 0, 0x1B, 0xD9, 198, 18, 0, static_cast<uint8_t>(11 + index)};
  std::memcpy(out + 28, address, 16);
  std::memcpy(out + 44, name.c_str(), name.size() + 1);
  if (ids) Put32(out + 45 + bound, 1);
  return size;
}

int32_t PB_CALL FakeLock() { return ++g_locks, 1; }
int32_t PB_CALL FakeUnlock() { return --g_locks, 1; }
int32_t PB_CALL FakeCount() { return 2; }
int32_t PB_CALL FakeGetEntryData(int32_t index, void* record, int32_t size) {
  if (index < 0 || index > 1) return -1;
  static int calls = 0;
  const int32_t needed =
      BuildEntry(index, nullptr) + (g_fault == Fault::kSizeChanges && ++calls % 2 == 0 ? 4 : 0);
  if (record == nullptr || size < needed) return needed;
  auto* out = static_cast<uint8_t*>(record);
  BuildEntry(index, out);
  if (g_fault == Fault::kOverrun) out[needed] = 0;
  if (g_fault == Fault::kSizeFieldDiffers) Put32(out, needed - 1);
  if (g_fault == Fault::kNameOutside) Put32(out + 24, needed);
  return needed;
}
int32_t PB_CALL FakeGroupCount() { return 2; }
int32_t PB_CALL FakeGetGroupData(int32_t index, void* record, int32_t size) {
  if (index < 0 || index > 1) return -1;
  const std::string name = index == 0 ? "Sales" : "East";
  const int32_t needed = static_cast<int32_t>(name.size()) + 21;
  if (record == nullptr || size < needed) return needed;
  auto* out = static_cast<uint8_t*>(record);
  Put32(out, needed);
  Put32(out + 4, 256);
  Put32(out + 8, index == 0 ? -1 : 0);
  Put32(out + 12, 0);
  Put32(out + 16, 20);
  std::memcpy(out + 20, name.c_str(), name.size() + 1);
  return needed;
}

PluginApi FakeApi() {
  PluginApi api;
  api.LockEntryList = FakeLock;
  api.UnlockEntryList = FakeUnlock;
  api.GetEntryCount = FakeCount;
  api.GetEntryData = FakeGetEntryData;
  api.GetGroupCount = FakeGroupCount;
  api.GetGroupData = FakeGetGroupData;
  for (const char* name : kExportNames) {
    if (std::string(name).find("Entry") == std::string::npos &&
        std::string(name).find("Group") == std::string::npos) {
      api.missing.insert(name);
    }
  }
  api.missing.insert("GetEntryInfo");
  api.missing.insert("StartEntry");
  api.missing.insert("StartEntryEx");
  api.missing.insert("AbsenceEntry");
  api.missing.insert("ExitEntry");
  api.missing.insert("InputEntry");
  api.missing.insert("CompareEntryData");
  return api;
}

class InlineWindow final : public WindowThread {
 public:
  PB_HWND window() const override { return const_cast<int*>(&token_); }
  void Run(const std::function<void()>& work) override { work(); }

 private:
  int token_ = 0;
};

class HostCommandsTest : public testing::Test {
 protected:
  void SetUp() override {
    g_fault = Fault::kNone;
    g_locks = 0;
  }
  // Runs the command lines in machine mode; returns the output.
  std::string Run(const std::string& lines, bool* all_ok) {
    Output out(true);
    Session session{api_, window_, out};
    std::istringstream in(lines);
    testing::internal::CaptureStdout();
    *all_ok = RunCommandLoop(session, in, false);
    return testing::internal::GetCapturedStdout();
  }
  PluginApi api_ = FakeApi();
  InlineWindow window_;
};

TEST_F(HostCommandsTest, PeersPrintsOneLinePerPeerAndReleasesTheLock) {
  bool ok = false;
  const std::string out = Run("peers\n", &ok);
  EXPECT_TRUE(ok) << out;
  EXPECT_EQ(out,
            "PEERS count=2\n"
            "PEER index=0 addr=198.18.0.11 port=7129 status=1 name=\"ann (198.18.0.11)\" "
            "groups=1\n"
            "PEER index=1 addr=198.18.0.12 port=7129 status=1 name=\"bob (198.18.0.12)\" "
            "groups=\n"
            "OK\n");
  EXPECT_EQ(g_locks, 0);
}

TEST_F(HostCommandsTest, GroupsCarryTheirPaths) {
  bool ok = false;
  const std::string out = Run("groups\n", &ok);
  EXPECT_TRUE(ok) << out;
  EXPECT_NE(out.find("GROUP index=1 parent=0 name=\"East\" path=\"Sales>East\"\n"),
            std::string::npos)
      << out;
}

TEST_F(HostCommandsTest, RecordsShowTheBytesAsFilledEvenWhenMalformed) {
  bool ok = false;
  std::string out = Run("records\n", &ok);
  EXPECT_TRUE(ok) << out;
  // Fields in order: size, version, kind, status, group count and offset, name offset, the
  // socket address, the name field (its unwritten tail keeps the host's fill byte), the ids.
  EXPECT_EQ(out.substr(0, out.find("ENTRYRECORD index=1")),
            "RECORDS peers=2 groups=2\n"
            "ENTRYRECORD index=0 size=70 bytes="
            "46000000"
            "00010000"
            "02000000"
            "01000000"
            "01000000"
            "42000000"
            "2c000000"
            "02001bd9c612000b0000000000000000"
            "616e6e20283139382e31382e302e31312900"
            "a5a5a5a5"
            "01000000\n");
  EXPECT_NE(out.find("GROUPRECORD index=1 size=25 bytes="
                     "19000000"
                     "00010000"
                     "00000000"
                     "00000000"
                     "14000000"
                     "4561737400\nOK\n"),
            std::string::npos)
      << out;
  g_fault = Fault::kNameOutside;
  out = Run("records\n", &ok);
  EXPECT_FALSE(ok);
  EXPECT_NE(out.find("ENTRYRECORD index=1 size=66 bytes=42000000"), std::string::npos) << out;
  EXPECT_NE(out.find("BAD reason="), std::string::npos) << out;
  EXPECT_EQ(g_locks, 0);
}

TEST_F(HostCommandsTest, MisbehavingPluginIsReportedNotTrusted) {
  const Fault faults[] = {Fault::kOverrun, Fault::kSizeChanges, Fault::kSizeFieldDiffers,
                          Fault::kNameOutside};
  for (Fault fault : faults) {
    g_fault = fault;
    bool ok = true;
    const std::string out = Run("peers\n", &ok);
    EXPECT_FALSE(ok) << static_cast<int>(fault) << "\n" << out;
    EXPECT_NE(out.find("\nERR peers: "), std::string::npos) << out;
    EXPECT_EQ(g_locks, 0) << "the lock must be released on every way out";
  }
}

TEST_F(HostCommandsTest, CommandsNeedingMissingExportsAreRefusedByName) {
  bool ok = true;
  const std::string out = Run("info 0\nstart\n", &ok);
  EXPECT_FALSE(ok);
  EXPECT_NE(out.find("ERR info: unavailable: the plug-in does not export GetEntryInfo\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("ERR start: unavailable: the plug-in does not export StartEntry\n"),
            std::string::npos)
      << out;
}

TEST_F(HostCommandsTest, ArgumentsAreCheckedAndQuitStopsReading) {
  bool ok = true;
  std::string out = Run("wait-peers x\nwait-peers 2 1 9\nsleep -5\n", &ok);
  EXPECT_FALSE(ok);
  EXPECT_NE(out.find("ERR wait-peers: bad peer count x"), std::string::npos) << out;
  EXPECT_NE(out.find("ERR wait-peers: usage: wait-peers N [SECONDS]"), std::string::npos) << out;
  EXPECT_NE(out.find("ERR sleep: bad milliseconds -5"), std::string::npos) << out;

  out = Run("# a comment\n\nwait-peers 2 0\nquit\nbogus\n", &ok);
  EXPECT_TRUE(ok) << out;
  EXPECT_EQ(out, "WAITED peers=2 ms=0\nOK\nOK\n");
  out = Run("wait-peers 3 0\n", &ok);
  EXPECT_FALSE(ok);
  EXPECT_NE(out.find("ERR wait-peers: timed out after 0 s with 2 of 3 peers"), std::string::npos)
      << out;
}

std::string g_sent_to;
std::string g_sent_text;
int32_t PB_CALL FakeSendMemo(const void* record, const void* data, int32_t size,
                             PB_HANDLE /*cancel*/) {
  g_sent_to = DottedAddress(static_cast<const uint8_t*>(record) + 32);
  g_sent_text.assign(static_cast<const char*>(data), static_cast<size_t>(size));
  return PB_MEMO_PRESENT;
}

TEST_F(HostCommandsTest, SendFindsPeersByNameIndexOrAddress) {
  api_.SendMemoData = FakeSendMemo;
  api_.missing.erase("SendMemoData");
  struct Case {
    std::string line;
    std::string to;    // empty: refused
    std::string text;  // or the error line
  } cases[] = {
      {"send BO hello  there", "198.18.0.12", "hello  there"},
      {"send 0 \"quoted\"", "198.18.0.11", "quoted"},
      {"send @198.18.0.12 x", "198.18.0.12", "x"},
      {"send 198.18.0.99:7000 x", "198.18.0.99", "x"},
      {"send 2 x", "", "ERR send: no listed peer 2"},
      {"send carol x", "", "ERR send: no listed peer named \\\"carol\\\"; see peers"},
  };
  for (const Case& c : cases) {
    g_sent_to.clear();
    bool ok = false;
    const std::string out = Run(c.line + "\n", &ok);
    EXPECT_EQ(ok, !c.to.empty()) << c.line << "\n" << out;
    EXPECT_EQ(g_sent_to, c.to) << c.line;
    if (c.to.empty()) {
      EXPECT_NE(out.find(c.text + "\n"), std::string::npos) << out;
    } else {
      EXPECT_EQ(g_sent_text, c.text) << c.line;
      EXPECT_NE(out.find("SENT to=" + c.to + " result=0\nOK\n"), std::string::npos) << out;
    }
  }
  EXPECT_EQ(g_locks, 0);
  // A plug-in without GetEntryCount (run with --allow-missing): listed peers are still
  // reached by index, and an address or name is refused rather than the count called.
  api_.GetEntryCount = nullptr;
  api_.missing.insert("GetEntryCount");
  bool ok = false;
  std::string out = Run("send 1 x\n", &ok);
  EXPECT_TRUE(ok) << out;
  out = Run("send @198.18.0.12 x\nsend bob x\n", &ok);
  EXPECT_FALSE(ok);
  EXPECT_NE(out.find("ERR send: unavailable: the plug-in does not export GetEntryCount\nERR "
                     "send: unavailable"),
            std::string::npos)
      << out;
  EXPECT_EQ(g_locks, 0);
}

TEST(SplitCommandLineTest, QuotesGroupWords) {
  std::vector<std::string> words;
  ASSERT_TRUE(SplitCommandLine("  send 0 \"hi \\\"there\\\" \\\\ x\"  ", &words));
  EXPECT_EQ(words, (std::vector<std::string>{"send", "0", "hi \"there\" \\ x"}));
  EXPECT_FALSE(SplitCommandLine("send \"open", &words));
  // Raw code page 932: the second byte of 表 (0x95 0x5C) is no escape of the closing quote.
  ASSERT_TRUE(SplitCommandLine("send 0 \"\x95\x5C\" x", &words));
  EXPECT_EQ(words, (std::vector<std::string>{"send", "0", "\x95\x5C", "x"}));
}

TEST(MemoReceiverTest, ShowsThePayloadWithoutReadingBeyondIt) {
  Output out(true);
  SetMemoOutput(&out);
  uint8_t record[66] = {};
  ASSERT_EQ(BuildEntry(1, record), 66);
  // The frame's length counts 8 bytes around the payload; the byte after "hello" is not
  // part of it.
  const char data[] = "helloXYZW";
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReceiveMemo(record, 66, data, 13), 1);
  EXPECT_EQ(ReceiveMemo(nullptr, 0, data, 3), 1);  // unknown sender, frame shorter than 8
  Put32(record + 24, 70);                          // name outside the record
  EXPECT_EQ(ReceiveMemo(record, 66, data, 8), 1);
  const std::string text = testing::internal::GetCapturedStdout();
  SetMemoOutput(nullptr);
  EXPECT_EQ(text,
            "MEMO accepted=1 from=198.18.0.12 port=7129 name=\"bob (198.18.0.12)\" length=13 "
            "data=\"hello\"\n"
            "MEMO accepted=1 from=- port=0 name=\"\" length=3 data=\"\"\n"
            "MEMO accepted=1 from=- port=0 name=\"\" length=8 data=\"\"\n");
}

}  // namespace
}  // namespace pbhost
