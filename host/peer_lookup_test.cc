// peer_lookup_test.cc: finding peers by name, memo text as the rest of the line, the peer table.
#include "host/peer_lookup.h"

#include <gtest/gtest.h>

#include "host/command_table.h"
#include "host/peer_table.h"

namespace pbhost {
namespace {

TEST(FindPeerByNameTest, PrefixCaseAndAmbiguity) {
  // "\x83\x41" is a katakana letter whose second byte is 'A'; "\x83\x61" is another one.
  const std::vector<std::string> names = {"ann (10.0.0.1)", "anna (10.0.0.2)", "Bob (10.0.0.3)",
                                          "\x83\x41ki (10.0.0.4)", "zed (10.0.0.5)"};
  struct Case {
    std::string typed;
    NameMatch::Kind kind;
    std::vector<size_t> expected;  // the one found, or the candidates
  } cases[] = {
      {"b", NameMatch::kFound, {2}},
      {"BOB", NameMatch::kFound, {2}},
      {"Bob (10.0.0.3)", NameMatch::kFound, {2}},
      {"an", NameMatch::kAmbiguous, {0, 1}},
      {"ann", NameMatch::kFound, {0}},  // the whole nickname wins over a longer one
      {"anna", NameMatch::kFound, {1}},
      {"\x83\x41", NameMatch::kFound, {3}},
      {"\x83\x61", NameMatch::kUnknown, {}},  // a second byte is never case-folded
      {"\x83", NameMatch::kUnknown, {}},      // half a character
      {"carol", NameMatch::kUnknown, {}},
      {"", NameMatch::kUnknown, {}},
      {"bob (10.0.0.3) and more", NameMatch::kUnknown, {}},
  };
  for (const Case& c : cases) {
    const NameMatch match = FindPeerByName(names, c.typed);
    EXPECT_EQ(match.kind, c.kind) << c.typed;
    if (c.kind == NameMatch::kFound) {
      EXPECT_EQ(std::vector<size_t>{match.found}, c.expected) << c.typed;
    } else if (c.kind == NameMatch::kAmbiguous) {
      EXPECT_EQ(match.candidates, c.expected) << c.typed;
    }
  }
}

TEST(SplitCommandLineWithTextTest, MemoTextIsTheRestOfTheLine) {
  struct Case {
    std::string line;
    std::vector<std::string> words;
  } cases[] = {
      {"send alice hello  there ", {"send", "alice", "hello  there"}},
      {"send 0 \"quoted \\\" text\"", {"send", "0", "quoted \" text"}},
      {"send-wait @10.0.0.1 it's \"odd", {"send-wait", "@10.0.0.1", "it's \"odd"}},
      {"send 0 one", {"send", "0", "one"}},
      {"send 0", {"send", "0"}},
      {"send-bytes 0 10 20", {"send-bytes", "0", "10", "20"}},  // only memo text is taken whole
      {"peers  x y", {"peers", "x", "y"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words;
    ASSERT_TRUE(SplitCommandLineWithText(c.line, &words)) << c.line;
    EXPECT_EQ(words, c.words) << c.line;
  }
  std::vector<std::string> words;
  EXPECT_FALSE(SplitCommandLineWithText("send 0 \"open", &words));
}

TEST(PeerTableTest, FitsTheWidthAndLosesNothing) {
  const std::vector<PeerRow> rows = {
      {"0", "ann (198.18.0.11)", "present", "198.18.0.11:7129", {"Sales>East", "Support"}},
      {"1",
       "\x83\x41\x83\x41\x83\x41\x83\x41\x83\x41\x83\x41\x83\x41\x83\x41 (198.18.0.12)",
       "absent",
       "198.18.0.12:7129",
       {}},
  };
  const std::vector<std::string> wide = FormatPeerTable(rows, 120);
  ASSERT_EQ(wide.size(), 3u);
  EXPECT_EQ(wide[0].find("#  name"), 0u) << wide[0];
  EXPECT_NE(wide[1].find("present  198.18.0.11:7129  Sales>East, Support"), std::string::npos)
      << wide[1];
  // A narrow terminal: rows continue on further lines, none wider than the terminal, and a
  // double-byte character is never cut (the name column is even here, so a cut would show as
  // a line holding an odd number of the name's bytes).
  const std::vector<std::string> narrow = FormatPeerTable(rows, 60);
  std::string all;
  for (const std::string& line : narrow) {
    EXPECT_LE(line.size(), 60u) << line;
    all += line + "\n";
  }
  EXPECT_GT(narrow.size(), wide.size()) << all;
  EXPECT_NE(all.find("Sales>East,"), std::string::npos) << all;
  EXPECT_NE(all.find("Support"), std::string::npos) << all;
  EXPECT_EQ(WrapText("\x83\x41\x83\x41\x83\x41", 3),
            (std::vector<std::string>{"\x83\x41", "\x83\x41", "\x83\x41"}));
  EXPECT_EQ(WrapText("a bc def", 4), (std::vector<std::string>{"a bc", "def"}));
}

}  // namespace
}  // namespace pbhost
