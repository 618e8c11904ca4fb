// node_list_test.cc: locating the node-list file, its group tree, its per-peer names and
// groups, the keys by SeedType, and that edits show at the next read.
#include "files/node_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/plugin_state.h"
#include "files/profile_cache.h"
#include "platform/platform.h"
#include "store/entry_list.h"
#include "store/group_table.h"
#include "wire/entry_command.h"

namespace pb {
namespace {

namespace fs = std::filesystem;

// putenv keeps the string it is given, so each variable's text lives here until replaced.
void SetEnv(const char* name, const std::string& value) {
  static std::map<std::string, std::unique_ptr<std::string>> texts;
  auto text = std::make_unique<std::string>(std::string(name) + "=" + value);
  putenv(text->data());
  texts[name] = std::move(text);
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  ASSERT_TRUE(out.good()) << path;
}

bool OnWindows() { return platform::PathSeparator() == '\\'; }

// Every test gets directories of its own standing in for the Windows and system directories
// (on Linux; the Windows build asks the system), a node-list file in a third one, and
// Primus.ini beside this program under the logon user's section.
class NodeListTest : public testing::Test {
 public:
  struct Group {
    std::string name;
    int32_t parent;
    bool operator==(const Group&) const = default;
  };

 protected:
  void SetUp() override {
    static int serial = 0;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() /
            ("pb_node_list_" + std::to_string(now) + "_" + std::to_string(++serial));
    fs::create_directories(root_ / "win");
    fs::create_directories(root_ / "sys");
    fs::create_directories(root_ / "nl");
    windows_dir_ = (root_ / "win").string();
    system_dir_ = (root_ / "sys").string();
    node_list_ = (root_ / "nl" / "NodeList.ini").string();
    SetEnv("PEERBEACON_WINDOWS_DIR", windows_dir_);
    SetEnv("PEERBEACON_SYSTEM_DIR", system_dir_);
    primus_ = platform::ReplaceFileName(platform::ExecutablePath(), "Primus.ini");
    ASSERT_FALSE(platform::ExecutablePath().empty());
    if (!platform::LogonUserName(&user_) || user_.empty()) user_ = "Anonymous";
  }
  void TearDown() override {
    fs::remove(primus_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    SetEnv("PEERBEACON_WINDOWS_DIR", "");
    SetEnv("PEERBEACON_SYSTEM_DIR", "");
  }

  void PointPrimusAt(const std::string& path) {
    WriteFile(primus_, "[" + user_ + "]\r\nNodeListPath=" + path + "\r\n");
  }
  // Writes the node-list file and points Primus.ini at it.
  void WriteNodeList(const std::string& text) {
    WriteFile(node_list_, text);
    PointPrimusAt(node_list_);
  }

  std::vector<Group> ReadGroups() {
    GroupTable table;
    EXPECT_EQ(ReadNodeListGroups(&table), 0);
    std::vector<Group> groups;
    for (int32_t i = 0; i < table.Count(); ++i) {
      groups.push_back({table.GetName(i), table.GetParent(i)});
    }
    return groups;
  }

  std::string Name(const char* key) {
    char buffer[1100];
    memset(buffer, '#', sizeof buffer);
    const int32_t n = GetNodeListName(key, buffer, sizeof buffer);
    EXPECT_GE(n, 0);
    EXPECT_EQ(buffer[n], '\0');
    return std::string(buffer, static_cast<size_t>(n));
  }
  std::vector<int32_t> Groups(const char* key, const GroupTable& table, int32_t offset = 0) {
    const int32_t count = GetNodeListGroups(key, nullptr, 0, offset, &table);
    std::vector<int32_t> ids(static_cast<size_t>(count) + 1, -99);
    EXPECT_EQ(GetNodeListGroups(key, ids.data(), count, offset, &table), count);
    EXPECT_EQ(ids.back(), -99) << "written beyond max";
    ids.pop_back();
    return ids;
  }

  fs::path root_;
  std::string windows_dir_, system_dir_, node_list_, primus_, user_;
};

using G = std::vector<NodeListTest::Group>;

TEST_F(NodeListTest, GroupTreeTakesParentsFromEarlierLinesOnly) {
  WriteNodeList("[GROUP]\r\nCOUNT=3\r\nGROUP1=Sales\r\nGROUP2=East,1\r\nGROUP3=West,1\r\n");
  EXPECT_EQ(ReadGroups(), (G{{"Sales", -1}, {"East", 0}, {"West", 0}}));

  // A parent on a later line, beyond COUNT, zero or negative gives no parent; runs of commas
  // are one separator and the parent field is read like atoi.
  WriteNodeList(
      "[group]\ncount=6\nGROUP1=Top\nGROUP2=Child,3\nGROUP3=X,9\ngroup4=Y,,,1\n"
      "GROUP5=Z,0\nGROUP6=,,W, 4x,7\n");
  EXPECT_EQ(ReadGroups(),
            (G{{"Top", -1}, {"Child", -1}, {"X", -1}, {"Y", 0}, {"Z", -1}, {"W", 3}}));
}

TEST_F(NodeListTest, MissingLinesEmptyNamesAndRepeats) {
  WriteNodeList("[GROUP]\nCOUNT=2\nGROUP1=Sales\n");
  EXPECT_EQ(ReadGroups(), (G{{"Sales", -1}, {"error", -1}}));

  // A missing line in the middle is a parent like any other; one far beyond the file's lines
  // adds the single "error" group without walking every number.
  WriteNodeList("[GROUP]\nCOUNT=2000000000\nGROUP1=A\nGROUP2=B,1\nGROUP4=Z,3\n");
  EXPECT_EQ(ReadGroups(), (G{{"A", -1}, {"B", 0}, {"error", -1}, {"Z", 2}}));

  // A line with no name interns the empty name, so the numbering below it stays; a repeated
  // (name, parent) pair reuses the earlier id.
  WriteNodeList("[GROUP]\nCOUNT=4\nGROUP1=,,,\nGROUP2=Sub,1\nGROUP3=Sub,1\nGROUP4=Leaf,3\n");
  EXPECT_EQ(ReadGroups(), (G{{"", -1}, {"Sub", 0}, {"Leaf", 1}}));

  WriteNodeList("[GROUP]\nCOUNT=0\nGROUP1=A\n");
  EXPECT_TRUE(ReadGroups().empty());
  EXPECT_EQ(ReadNodeListGroups(nullptr), 0);
}

TEST_F(NodeListTest, MachineNamesAndGroups) {
  WriteNodeList(
      "[GROUP]\nCOUNT=3\nGROUP1=G1\nGROUP2=G2\nGROUP3=G3\n"
      "[MACHINE]\nDEFAULT=Guest,1\nTaro=Taro,1&&3\nJiro=Jiro,0&4\nHana=Hana\nKen=,2\n"
      "Mari=Mari,3x&2&-1& 1&\n");
  GroupTable table;
  ReadNodeListGroups(&table);
  ASSERT_EQ(table.Count(), 3);

  EXPECT_EQ(Name("Nobody"), "Guest");
  EXPECT_EQ(Groups("Nobody", table), (std::vector<int32_t>{0}));
  EXPECT_EQ(Name("taro"), "Taro");
  EXPECT_EQ(Groups("Taro", table), (std::vector<int32_t>{0, 2}));
  EXPECT_EQ(Groups("Taro", table, 5), (std::vector<int32_t>{5, 7}));
  EXPECT_EQ(Groups("Taro", table, -3), (std::vector<int32_t>{0, 2}));
  EXPECT_TRUE(Groups("Jiro", table).empty());
  EXPECT_EQ(Name("Hana"), "Hana");
  EXPECT_TRUE(Groups("Hana", table).empty());
  EXPECT_EQ(Name("Ken"), "");
  EXPECT_EQ(Groups("Ken", table), (std::vector<int32_t>{1}));
  EXPECT_EQ(Groups("Mari", table), (std::vector<int32_t>{2, 1, 0}));

  // The count covers numbers beyond max; only max are written.
  int32_t ids[3] = {-7, -7, -7};
  EXPECT_EQ(GetNodeListGroups("Mari", ids, 1, 0, &table), 3);
  EXPECT_EQ(ids[0], 2);
  EXPECT_EQ(ids[1], -7);
  // Numbers only count when the table holds them.
  GroupTable small;
  small.Intern("only", -1);
  EXPECT_EQ(GetNodeListGroups("Taro", nullptr, 0, 0, &small), 1);
  EXPECT_EQ(GetNodeListGroups("Taro", nullptr, 0, 0, nullptr), 0);

  // A buffer must be longer than the name.
  char name[4];
  memset(name, '#', sizeof name);
  EXPECT_EQ(GetNodeListName("Taro", name, 4), 4);
  EXPECT_EQ(std::string(name, 4), "####");
  EXPECT_EQ(GetNodeListName("Taro", nullptr, 100), 4);
}

TEST_F(NodeListTest, NoFileOrNoValueGivesNothing) {
  GroupTable table;
  table.Intern("a", -1);
  EXPECT_EQ(GetNodeListName("Taro", nullptr, 0), 0);
  EXPECT_EQ(GetNodeListGroups("Taro", nullptr, 0, 0, &table), 0);
  WriteNodeList("[MACHINE]\nTaro=\n");
  EXPECT_EQ(Name("Taro"), "");
  EXPECT_EQ(GetNodeListGroups("Taro", nullptr, 0, 0, &table), 0);
  EXPECT_EQ(Name("Other"), "");
}

TEST_F(NodeListTest, LocationOrder) {
  char path[platform::kMaxPath];
  EXPECT_EQ(FindNodeListFile(path), 0);
  EXPECT_STREQ(path, "NodeList.ini");

  WriteNodeList("[MACHINE]\nDEFAULT=FromPrimus\n");
  EXPECT_EQ(FindNodeListFile(path), 1);
  EXPECT_EQ(std::string(path), node_list_);

  // Wildcards and a directory do not name one file; neither does another user's section.
  PointPrimusAt((root_ / "nl" / "Node*.ini").string());
  EXPECT_EQ(FindNodeListFile(path), 0);
  PointPrimusAt((root_ / "nl").string());
  EXPECT_EQ(FindNodeListFile(path), 0);
  WriteFile(primus_, "[someone else " + user_ + "]\r\nNodeListPath=" + node_list_ + "\r\n");
  EXPECT_EQ(FindNodeListFile(path), 0);

  if (OnWindows()) {
    GTEST_SKIP() << "the Windows and system directories of the Wine prefix are shared with "
                    "every other program there; the Linux build covers the fallback order";
  }
  PointPrimusAt((root_ / "nl" / "Missing.ini").string());
  const std::string in_system = (root_ / "sys" / "NodeList.ini").string();
  WriteFile(in_system, "[MACHINE]\nDEFAULT=FromSystem\n");
  EXPECT_EQ(FindNodeListFile(path), 1);
  EXPECT_EQ(std::string(path), in_system);
  const std::string in_windows = (root_ / "win" / "NodeList.ini").string();
  WriteFile(in_windows, "[MACHINE]\nDEFAULT=FromWindows\n");
  EXPECT_EQ(FindNodeListFile(path), 1);
  EXPECT_EQ(std::string(path), in_windows);
  EXPECT_EQ(Name("anyone"), "FromWindows");
  // The directory given with its separator is not doubled.
  SetEnv("PEERBEACON_WINDOWS_DIR", windows_dir_ + "/");
  EXPECT_EQ(FindNodeListFile(path), 1);
  EXPECT_EQ(std::string(path), in_windows);
}

TEST_F(NodeListTest, EditShowsAtNextReadWithoutReparsingUnchangedFiles) {
  WriteNodeList("[MACHINE]\nDEFAULT=Alpha,1\n");
  EXPECT_EQ(Name("x"), "Alpha");
  const uint64_t parses = ProfileSnapshotParses();
  for (int i = 0; i < 50; ++i) EXPECT_EQ(Name("x"), "Alpha");
  EXPECT_EQ(ProfileSnapshotParses(), parses);

  // A different size is a different identity whatever the clock's resolution.
  WriteFile(node_list_, "[MACHINE]\nDEFAULT=Beta,1\nx=Gamma,2\n");
  EXPECT_EQ(Name("x"), "Gamma");
  EXPECT_EQ(Name("y"), "Beta");
  EXPECT_GT(ProfileSnapshotParses(), parses);

  // Retargeting Primus.ini shows at once too.
  const std::string other = (root_ / "nl" / "Other.ini").string();
  WriteFile(other, "[MACHINE]\nDEFAULT=Delta\n");
  PointPrimusAt(other);
  EXPECT_EQ(Name("x"), "Delta");
}

// The cached reading must give what the platform's own profile functions give for the same
// file: names without case, the first key and the first section win, values trimmed and
// unquoted, defaults without trailing blanks, values cut to the buffer.
TEST_F(NodeListTest, CachedValuesMatchTheProfileFunctions) {
  WriteNodeList(
      "[machine]\r\n default = \" Guest ,1 \"\r\nbob=Bob,1\r\nBOB=Second,2\r\n"
      "Quoted='Q,1'\r\nHalf=\"x\r\n  Spaces =   a b  \r\nEmpty=\r\n; note=Not\r\n"
      "=blank\r\nLong=" +
      std::string(2000, 'L') +
      "\r\n[Other]\r\ncarol=Carol\r\n"
      "[MACHINE]\r\ndave=Dave\r\n");
  for (const char* key : {"bob", "Bob", "quoted", "half", "spaces", "SPACES", "empty", "note",
                          "; note", "long", "carol", "dave", "nobody", "", "default"}) {
    SCOPED_TRACE(std::string("key '") + key + "'");
    char fallback[1024];
    platform::GetProfileString("MACHINE", "DEFAULT", "", fallback, sizeof fallback,
                               node_list_.c_str());
    char expected[1024];
    platform::GetProfileString("MACHINE", key, fallback, expected, sizeof expected,
                               node_list_.c_str());
    std::string value;
    ASSERT_TRUE(ReadNodeListMachineValue(key, &value));
    EXPECT_EQ(value, expected);
  }
}

// A long section is looked up through an index; it must still give the first key in file order
// that the lookups' rule matches, whatever its case and blanks, also next to names with bytes
// outside ASCII.
TEST_F(NodeListTest, LongSectionLookupsKeepTheFirstMatch) {
  std::string text = "[MACHINE]\r\n";
  for (int i = 0; i < 3000; ++i) {
    text += "host" + std::to_string(i) + "=H" + std::to_string(i) + "\r\n";
  }
  text += "\xC9t\xE9=Latin\r\n\x83\x41\x83\x43=Kana\r\nMixed=First\r\n";
  text += "  mixed  =Second\r\nMIXED=Third\r\nhost17=Late\r\n\xE9t\xC9=Latin2\r\n";
  WriteNodeList(text);
  // Keys outside ASCII are asked only as they stand: how their case folds depends on the
  // system's code page (Wine's UTF-8 one and a Japanese one disagree), not on this reader.
  for (const char* key : {"host0", "HOST17", " host2999 ", "mixed", "MiXeD", "\xC9t\xE9",
                          "\x83\x41\x83\x43", "host3000", "Host1234"}) {
    SCOPED_TRACE(std::string("key '") + key + "'");
    char expected[256];
    platform::GetProfileString("MACHINE", key, "", expected, sizeof expected, node_list_.c_str());
    std::string value;
    ASSERT_TRUE(ReadNodeListMachineValue(key, &value));
    EXPECT_EQ(value, expected);
  }
}

// Nicknames in Shift-JIS whose only difference is a trail byte that reads as an ASCII letter
// ('J' against 'j', 'A' against 'a') belong to different peers, and each keeps its own value.
TEST_F(NodeListTest, LookAlikeDoubleByteNicknamesKeepTheirOwnValues) {
  if (platform::SystemCodePage() != 932) GTEST_SKIP() << "the system's code page is not 932";
  const std::string kashi = "\x83\x4A\x83\x56", nishi = "\x83\x6A\x83\x56";
  const std::string kana_a = "\x83\x41", kana_di = "\x83\x61";
  WriteNodeList(
      "[GROUP]\r\nCOUNT=2\r\nGROUP1=East\r\nGROUP2=West\r\n[MACHINE]\r\n"
      "DEFAULT=Guest\r\n" +
      kashi + "=Kashi,1\r\n" + nishi + "=Nishi,2\r\n" + kana_a + "=A,1\r\n" + kana_di +
      "=Di,2\r\n");
  GroupTable table;
  ReadNodeListGroups(&table);
  const struct {
    std::string key;
    const char* name;
    std::vector<int32_t> groups;
  } peers[] = {{nishi, "Nishi", {1}},
               {kashi, "Kashi", {0}},
               {kana_di, "Di", {1}},
               {kana_a, "A", {0}},
               {"\x83\x6A", "Guest", {}}};
  for (const auto& peer : peers) {
    EXPECT_EQ(Name(peer.key.c_str()), peer.name);
    EXPECT_EQ(Groups(peer.key.c_str(), table), peer.groups) << peer.name;
  }
}

// The state the key reader needs: an initialised plug-in with an entry list.
class NodeListKeyTest : public testing::Test {
 protected:
  void SetUp() override {
    g_stOrgData.entryList = EntryList::Create();
    ASSERT_NE(g_stOrgData.entryList, nullptr);
    g_stOrgData.initialized = 1;
  }
  void TearDown() override {
    g_stOrgData.initialized = 0;
    EntryList::Destroy(g_stOrgData.entryList);
    g_stOrgData.entryList = nullptr;
    g_stOrgData.seedType = 0;
  }
  void AddPeer(const std::array<uint8_t, 4>& ip, const char* nickname, const char* user,
               const char* machine) {
    uint8_t address[16] = {2, 0, 0x1B, 0xD9};
    memcpy(address + 4, ip.data(), 4);
    EntryCommandBuffer command = BuildEntryCommand(1, 0, nickname, "", user, machine, 0);
    ASSERT_TRUE(command);
    ASSERT_EQ(g_stOrgData.entryList->Upsert(address, command.data(), nullptr, 0), 1);
  }
  std::string Key(int32_t index) {
    const int32_t size = GetNodeListKey(index, nullptr, 0);
    if (size <= 0) return "<" + std::to_string(size) + ">";
    std::string key(static_cast<size_t>(size) + 4, '#');
    EXPECT_EQ(GetNodeListKey(index, key.data(), size - 1), size);  // too small: untouched
    EXPECT_EQ(key, std::string(static_cast<size_t>(size) + 4, '#'));
    EXPECT_EQ(GetNodeListKey(index, key.data(), size), size);
    return key.substr(0, strlen(key.c_str()));
  }
};

TEST_F(NodeListKeyTest, KeyBySeedType) {
  AddPeer({192, 168, 0, 7}, "Taro", "taro.y", "PC-07");
  g_stOrgData.seedType = 3;
  EXPECT_EQ(GetNodeListKey(0, nullptr, 0), 17);
  EXPECT_EQ(Key(0), "192.168.0.7");
  g_stOrgData.seedType = 0;
  EXPECT_EQ(GetNodeListKey(0, nullptr, 0), 5);
  EXPECT_EQ(Key(0), "Taro");
  g_stOrgData.seedType = 1;
  EXPECT_EQ(Key(0), "taro.y");
  g_stOrgData.seedType = 2;
  EXPECT_EQ(Key(0), "PC-07");

  // One past the last entry names no entry (0); beyond that and below 0 is a bad index.
  EXPECT_EQ(GetNodeListKey(1, nullptr, 0), 0);
  EXPECT_EQ(GetNodeListKey(2, nullptr, 0), -1);
  EXPECT_EQ(GetNodeListKey(-1, nullptr, 0), -1);
  g_stOrgData.initialized = 0;
  EXPECT_EQ(GetNodeListKey(0, nullptr, 0), -1);
}

}  // namespace
}  // namespace pb
