// text_encoding_test_posix.cc: code page 932 text to and from a terminal's encoding.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/text_encoding.h"

namespace pb::platform {
namespace {

TEST(TextEncodingTest, Cp932IsShownWithEveryFaultVisible) {
  const struct {
    const char* name;
    std::string cp932;
    const char* encoding;
    std::string shown;
  } cases[] = {
      {"hiragana", "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd", "UTF-8", "こんにちは"},
      {"ASCII, backslash and tilde included", "a\\b~ (1)", "UTF-8", "a\\b~ (1)"},
      {"half-width kana", "\xb1\xb2\xdf", "UTF-8", "ｱｲﾟ"},
      {"NEC row 13", "\x87\x40\x87\x94", "UTF-8", "①∑"},
      {"NEC-selected IBM row", "\xed\x40", "UTF-8", "纊"},
      {"IBM extension rows", "\xfa\x40\xfb\xfc", "UTF-8", "ⅰ髙"},
      {"wave dash as Windows maps it", "\x81\x60", "UTF-8", "～"},
      {"lone lead byte at the end", "ab\x82", "UTF-8", "ab\\x82"},
      {"lead byte before a byte that is no trail", "\x82\x0a\x82\xa0", "UTF-8", "\\x82\nあ"},
      {"unassigned double-byte code", "\x85\x40x", "UTF-8", "\\x85\\x40x"},
      {"single bytes without a character", "\x80\xa0\xfdz", "UTF-8", "\\x80\\xA0\\xFDz"},
      {"a character the terminal lacks", "\x87\x40\x82\xa0", "EUC-JP", "\\x87\\x40\xa4\xa2"},
      {"raw", "\x82\xa0\x82", "", "\x82\xa0\x82"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Cp932ToTerminal(c.cp932, c.encoding), c.shown) << c.name;
  }
}

TEST(TextEncodingTest, TypedTextBecomesCp932OrIsRefused) {
  const struct {
    const char* name;
    std::string typed;
    TypedTextFault fault;
    std::string cp932_or_bad;
  } cases[] = {
      {"hiragana", "こんにちは", TypedTextFault::kNone, "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd"},
      {"half-width kana", "ｱ", TypedTextFault::kNone, "\xb1"},
      {"JIS wave dash", "〜", TypedTextFault::kNone, "\x81\x60"},
      {"NEC row 13", "①", TypedTextFault::kNone, "\x87\x40"},
      {"empty", "", TypedTextFault::kNone, ""},
      {"Latin-1 letter", "caf\xc3\xa9!", TypedTextFault::kNotInCp932, "\xc3\xa9"},
      {"emoji", "a\xf0\x9f\x98\x80 b", TypedTextFault::kNotInCp932, "\xf0\x9f\x98\x80"},
      {"character cut off at the end", "ok\xe3\x81", TypedTextFault::kInvalid, "\xe3\x81"},
      {"byte that is no UTF-8", "\xff\x41", TypedTextFault::kInvalid, "\xff"},
  };
  for (const auto& c : cases) {
    std::string out, bad;
    EXPECT_EQ(TerminalToCp932(c.typed, "UTF-8", &out, &bad), c.fault) << c.name;
    EXPECT_EQ(c.fault == TypedTextFault::kNone ? out : bad, c.cp932_or_bad) << c.name;
  }
  std::string out, bad;
  EXPECT_EQ(TerminalToCp932("\xff", "", &out, &bad), TypedTextFault::kNone);
  EXPECT_EQ(out, "\xff");
}

TEST(TextEncodingTest, TerminalEncodingFollowsTheLocale) {
  const char* saved = getenv("LC_ALL");
  const std::string before = saved != nullptr ? saved : "";
  setenv("LC_ALL", "C.UTF-8", 1);
  EXPECT_EQ(TerminalEncoding(), "UTF-8");
  setenv("LC_ALL", "C", 1);  // says nothing about the terminal
  EXPECT_EQ(TerminalEncoding(), "UTF-8");
  if (saved != nullptr) {
    setenv("LC_ALL", before.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
  EXPECT_TRUE(CanConvertText("EUC-JP"));
  EXPECT_TRUE(CanConvertText(""));
  EXPECT_FALSE(CanConvertText("NO-SUCH-ENCODING"));
}

}  // namespace
}  // namespace pb::platform
