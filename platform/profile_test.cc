// profile_test.cc: one table of INI cases, run against whichever profile functions this build
// has: the Linux build's own implementation, or the system's in the Windows build (so Wine's
// behaviour checks ours).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/test_temp_dir.h"

namespace pb::platform {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

struct Write {
  const char* section;
  const char* key;    // null deletes the section
  const char* value;  // null deletes the key
};

struct Read {
  const char* section;
  const char* key;
  const char* expected;  // a string read when int_default is unset
  uint32_t size = 64;    // the caller's buffer
  const char* fallback = "default";
  std::optional<int32_t> int_default = std::nullopt;
  int32_t expected_int = 0;  // an integer read when int_default is set
};

Read Str(const char* section, const char* key, const char* expected, uint32_t size = 64) {
  return Read{section, key, expected, size};
}
Read Int(const char* section, const char* key, int32_t fallback, int32_t expected) {
  return Read{section, key, nullptr, 64, "", fallback, expected};
}

struct Case {
  const char* name;
  const char* file;  // the file before the writes; null: no file
  std::vector<Write> writes;
  std::vector<Read> reads;
  // Names with double-byte characters compare as on a Japanese system only where the system's
  // 8-bit strings are in code page 932.
  bool japanese = false;
};

// Shift-JIS names whose trail bytes are ASCII letters: KASHI and NISHI differ only in a trail
// byte that is 'J' in one and 'j' in the other, A and DI in one that is 'A' and 'a'. EQ is a
// character whose trail byte is also a lead byte's value.
#define KASHI "\x83\x4A\x83\x56"
#define NISHI "\x83\x6A\x83\x56"
#define KANA_A "\x83\x41"
#define KANA_DI "\x83\x61"
#define EQ "\x81\x81"

const Case kCases[] = {
    {"NamesMatchWithoutCase",
     "[Peer]\r\nMcstPort=7000\r\n",
     {},
     {Str("PEER", "mcstport", "7000"), Str("peer", "MCSTPORT", "7000")}},
    {"FirstSectionAndFirstKeyWin",
     "[A]\r\nk=1\r\nK=2\r\n[B]\r\nk=3\r\n[a]\r\nk=4\r\nonly_later=5\r\n",
     {},
     {Str("A", "k", "1"), Str("B", "k", "3"), Str("a", "only_later", "default")}},
    {"BlanksAroundNamesAndValuesAreDropped",
     "  [S]  \r\n  key one  =  some value  \r\n\tk2\t=\tv2\t\r\nk3=\r\n",
     {},
     {Str("S", "key one", "some value"), Str("S", "k2", "v2"), Str("S", "k3", "")}},
    {"CallerNamesCountWithoutTheirBlanks",
     "[S]\r\nk=1\r\nother=2\r\n",
     {{" S ", "\tk ", "3"}},
     {Str("  S", "k  ", "3"), Str("S", "other", "2"), Int(" S\t", " other ", 0, 2)}},
    {"ByteOrderMarkDoesNotHideTheFirstSection",
     "\xEF\xBB\xBF[S]\r\nk=1\r\n",
     {},
     {Str("S", "k", "1")}},
    {"OnePairOfSurroundingQuotesIsDropped",
     "[Q]\r\nd=\"two words\"\r\ns='single'\r\nopen=\"unbalanced\r\nmixed=\"a'\r\n"
     "inner=\"a\"b\"\r\nempty=\"\"\r\nlone=\"\r\n",
     {},
     {Str("Q", "d", "two words"), Str("Q", "s", "single"), Str("Q", "open", "\"unbalanced"),
      Str("Q", "mixed", "\"a'"), Str("Q", "inner", "a\"b"), Str("Q", "empty", ""),
      Str("Q", "lone", "\"")}},
    {"MissingFileSectionOrKeyGivesTheDefault",
     "[S]\r\nname-only\r\nk=v\r\n",
     {},
     {Str("S", "missing", "default"), Str("T", "k", "default"), Str("S", "name-only", "default"),
      Read{"S", "missing", "def", 64, "def   "}}},
    {"SmallBufferTakesSizeLessOneCharacters",
     "[S]\r\nk=abcdef\r\nq=\"abcdef\"\r\n",
     {},
     {Str("S", "k", "abc", 4), Str("S", "k", "", 1), Str("S", "q", "abc", 4),
      Str("S", "k", "abcdef", 7), Read{"S", "none", "dead", 5, "deadbeef"}}},
    {"IntegersTakeTheLeadingSignedDecimal",
     "[N]\r\nplain=7129\r\nneg=-5\r\nplus=+7\r\ntail=12abc\r\ntext=abc\r\nempty=\r\n"
     "spaced=  42  \r\nquoted=\"15\"\r\nbig=70665\r\n",
     {},
     {Int("N", "plain", 1, 7129), Int("N", "neg", 1, -5), Int("N", "plus", 1, 7),
      Int("N", "tail", 1, 12), Int("N", "text", 1, 0), Int("N", "empty", 99, 99),
      Int("N", "spaced", 1, 42), Int("N", "quoted", 1, 15), Int("N", "big", 1, 70665),
      Int("N", "missing", -1, -1), Int("X", "plain", 3, 3)}},
    {"MissingFileGivesIntegerDefault",
     nullptr,
     {},
     {Int("S", "k", 15, 15), Str("S", "k", "default")}},
    {"WriteKeepsTheOtherLines",
     "; settings\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n",
     {{"A", "z", "3"}},
     {Str("A", "x", "1"), Str("A", "z", "3"), Str("B", "y", "2"), Str("B", "z", "default")}},
    {"WriteRewritesAnExistingKeyWhateverItsCase",
     "[A]\r\nx=1\r\nw=0\r\n[B]\r\nx=2\r\n",
     {{"a", "X", "9"}},
     {Str("A", "x", "9"), Str("A", "w", "0"), Str("B", "x", "2")}},
    {"WriteCreatesFileAndSection",
     nullptr,
     {{"User", "McstPort", "7000"}, {"User", "Group", "A>B"}, {"Other", "Nickname", "n"}},
     {Int("User", "McstPort", 7129, 7000), Str("User", "Group", "A>B"),
      Str("Other", "Nickname", "n"), Str("Other", "Group", "default")}},
    {"WriteCreatesSectionInExistingFile",
     "[A]\r\nx=1",
     {{"B", "y", "2"}},
     {Str("A", "x", "1"), Str("B", "y", "2")}},
    {"WriteWithNullValueDeletesKeyAndNullKeyDeletesSection",
     "[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n[C]\r\nw=4\r\n",
     {{"A", "x", nullptr}, {"B", nullptr, nullptr}},
     {Str("A", "x", "default"), Str("A", "y", "2"), Str("B", "z", "default"), Str("C", "w", "4")}},
    {"DoubleByteNamesMatchOnlyThemselves",
     "[" KASHI "]\r\nk=ka\r\n[" NISHI "]\r\nk=ni\r\n[M]\r\n" KASHI "=kashi\r\n" NISHI
     "=nishi\r\n" KANA_A "=a\r\n" KANA_DI "=di\r\n" EQ "X=eq\r\n\xB1Y=half\r\n",
     {},
     {Str(NISHI, "k", "ni"), Str(KASHI, "k", "ka"), Str("M", NISHI, "nishi"),
      Str("M", KASHI, "kashi"), Str("m", KANA_DI, "di"), Str("M", KANA_A, "a"),
      Str("M", EQ "x", "eq"), Str("M", "\xB1y", "half"), Str("M", "\x83\x4A", "default")},
     true},
    {"WritingADoubleByteNameLeavesItsLookAlikeAlone",
     "[" KASHI "]\r\n" KASHI "=kashi\r\n",
     {{NISHI, NISHI, "nishi"}, {KASHI, NISHI, "nishi2"}},
     {Str(KASHI, KASHI, "kashi"), Str(KASHI, NISHI, "nishi2"), Str(NISHI, NISHI, "nishi"),
      Str(NISHI, KASHI, "default")},
     true},
};

class ProfileTableTest : public ::testing::TestWithParam<Case> {};

TEST_P(ProfileTableTest, ReadsAfterWrites) {
  const Case& c = GetParam();
  if (c.japanese && SystemCodePage() != 932) {
    GTEST_SKIP() << "the system's code page is " << SystemCodePage() << ", not 932";
  }
  TempDir dir;
  const std::string path = dir.File("Peerbeacon.ini");
  if (c.file != nullptr) WriteBytes(path, c.file);
  for (const Write& w : c.writes) {
    ASSERT_TRUE(WriteProfileString(w.section, w.key, w.value, path.c_str()))
        << "[" << w.section << "] " << (w.key ? w.key : "(null)");
  }
  for (const Read& r : c.reads) {
    SCOPED_TRACE(std::string("[") + r.section + "] " + r.key);
    if (r.int_default.has_value()) {
      EXPECT_EQ(GetProfileInt(r.section, r.key, *r.int_default, path.c_str()), r.expected_int);
      continue;
    }
    std::vector<char> buffer(r.size + 8, '#');
    const uint32_t n =
        GetProfileString(r.section, r.key, r.fallback, buffer.data(), r.size, path.c_str());
    EXPECT_EQ(std::string(buffer.data()), r.expected);
    EXPECT_EQ(n, strlen(r.expected));
    EXPECT_EQ(buffer[r.size], '#') << "wrote beyond the buffer";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileTableTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileTest, WriteFailsWhereTheFileCannotBeCreated) {
  TempDir dir;
  const std::string path = dir.File("missing") + PathSeparator() + "Peerbeacon.ini";
  EXPECT_FALSE(WriteProfileString("S", "k", "v", path.c_str()));
}

TEST(ProfileTest, LongValueIsCutAtTheBuffer) {
  TempDir dir;
  const std::string path = dir.File("Peerbeacon.ini");
  const std::string nickname(3000, 'n');
  ASSERT_TRUE(WriteProfileString("S", "Nickname", nickname.c_str(), path.c_str()));
  std::vector<char> buffer(2048);
  EXPECT_EQ(GetProfileString("S", "Nickname", "", buffer.data(), 2048, path.c_str()), 2047u);
  EXPECT_EQ(std::string(buffer.data()), nickname.substr(0, 2047));
}

// The one-pass listing of a section agrees with the single lookups.
TEST(ProfileTest, SectionListingGivesValuesAsLookupsDo) {
  TempDir dir;
  const std::string path = dir.File("NodeList.ini");
  WriteBytes(path,
             "[MACHINE]\r\n; note\r\n Alpha = \"Team A\" \r\nname-only\r\nBeta=\r\n"
             "[Other]\r\nGamma=1\r\n[machine]\r\nDelta=2\r\n");
  std::vector<ProfileEntry> entries;
  ASSERT_TRUE(GetProfileSection(" machine ", path.c_str(), &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].key, "Alpha");
  EXPECT_EQ(entries[0].value, "Team A");
  EXPECT_EQ(entries[1].key, "Beta");
  EXPECT_EQ(entries[1].value, "");
  EXPECT_TRUE(ProfileKeyMatches(entries[0].key, " ALPHA"));
  EXPECT_FALSE(ProfileKeyMatches(entries[0].key, "Alph"));

  EXPECT_TRUE(GetProfileSection("Missing", path.c_str(), &entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(GetProfileSection("MACHINE", dir.File("absent.ini").c_str(), &entries));
}

// The section listing and the key matching that readers of a listing use follow the lookups'
// rule for double-byte names too.
TEST(ProfileTest, ListingAndKeyMatchingKeepDoubleByteNamesApart) {
  if (SystemCodePage() != 932) GTEST_SKIP() << "the system's code page is not 932";
  TempDir dir;
  const std::string path = dir.File("NodeList.ini");
  WriteBytes(path, "[" KASHI "]\r\nk=ka\r\n[" NISHI "]\r\nk=ni\r\n");
  std::vector<ProfileEntry> entries;
  ASSERT_TRUE(GetProfileSection(NISHI, path.c_str(), &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].value, "ni");
  EXPECT_FALSE(ProfileKeyMatches(NISHI, KASHI));
  EXPECT_FALSE(ProfileKeyMatches(KANA_A, KANA_DI));
  EXPECT_TRUE(ProfileKeyMatches(EQ "X\xB1Y", " " EQ "x\xB1y"));
}

#if !defined(_WIN32)
// The layout of what our own writer leaves on disk: other lines byte for byte where they were,
// CRLF line ends. (Wine re-lays out a whole file when it writes one, so this is not compared
// against the Windows build.)
TEST(ProfileFileTest, WriterKeepsLinesInPlaceWithCrlf) {
  TempDir dir;
  const std::string path = dir.File("Peerbeacon.ini");
  WriteBytes(path, "; settings\n[A]\n x = 1 \n\n[B]\ny=2");
  ASSERT_TRUE(WriteProfileString("A", "z", "3", path.c_str()));
  // A rewritten key keeps the file's spelling of its name.
  ASSERT_TRUE(WriteProfileString(" a ", "X", "9", path.c_str()));
  ASSERT_TRUE(WriteProfileString(" C ", " k ", "v", path.c_str()));
  EXPECT_EQ(ReadBytes(path), "; settings\r\n[A]\r\nx=9\r\nz=3\r\n\r\n[B]\r\ny=2\r\n[C]\r\nk=v\r\n");
}

TEST(ProfileFileTest, NewFileHoldsTheSectionAndKey) {
  TempDir dir;
  const std::string path = dir.File("Peerbeacon.ini");
  ASSERT_TRUE(WriteProfileString("root", "McstTTL", "1", path.c_str()));
  EXPECT_EQ(ReadBytes(path), "[root]\r\nMcstTTL=1\r\n");
}
#endif

// One reader serves every integer taken from a file or a field; its callers decide how a
// value beyond 32 bits reads, so it gives both the wrapped and the held value.
TEST(LeadingNumberTest, BlanksSignAndDigits) {
  struct Case {
    const char* text;
    LeadingBlanks blanks;
    bool sign;
    bool negative;
    uint32_t wrapped;
    uint64_t held;
  };
  const Case cases[] = {
      {" \t-42x", LeadingBlanks::kSpaceAndTab, true, true, 42, 42},
      {"\n7", LeadingBlanks::kSpaceAndTab, true, false, 0, 0},  // a newline is no blank here
      {"\n\v\f\r 7", LeadingBlanks::kAnyCSpace, true, false, 7, 7},
      {" 7", LeadingBlanks::kNone, false, false, 0, 0},
      {"+5", LeadingBlanks::kNone, false, false, 0, 0},  // no sign where none is allowed
      {"4294967297", LeadingBlanks::kNone, false, false, 1, 4294967296u},
      {"99999999999999999999", LeadingBlanks::kNone, false, false, 1661992959u, 4294967296u},
      {"", LeadingBlanks::kAnyCSpace, true, false, 0, 0},
  };
  for (const Case& c : cases) {
    const LeadingNumber n = ReadLeadingNumber(c.text, c.blanks, c.sign);
    EXPECT_EQ(n.negative, c.negative) << c.text;
    EXPECT_EQ(n.wrapped, c.wrapped) << c.text;
    EXPECT_EQ(n.held, c.held) << c.text;
  }
  EXPECT_EQ(ParseProfileInteger(" -4294967297"), -1);
  EXPECT_EQ(ParseProfileInteger("2147483648"), INT32_MIN);
}

}  // namespace
}  // namespace pb::platform
