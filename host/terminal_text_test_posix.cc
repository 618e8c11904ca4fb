// terminal_text_test_posix.cc: the Linux host's texts at the terminal's edge: shown converted,
// typed memos sent as code page 932 or refused, machine lines unchanged.
#include "host/terminal_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "host/command_table.h"
#include "host/memo_receiver.h"

namespace pbhost {
namespace {

std::string g_sent;
int g_sends = 0;

int32_t PB_CALL FakeSendMemoData(const void*, const void* data, int32_t size, PB_HANDLE) {
  ++g_sends;
  g_sent.assign(static_cast<const char*>(data), static_cast<size_t>(size));
  return PB_MEMO_PRESENT;
}

// An entry data record of a peer at 198.18.0.12 whose display name is `name`.
std::vector<uint8_t> PeerRecord(const std::string& name) {
  std::vector<uint8_t> record(45 + name.size(), 0);
  const int32_t fixed[] = {static_cast<int32_t>(record.size()), 256, 2, 1, 0, -1, 44};
  for (size_t i = 0; i < 7; ++i) {
    for (int b = 0; b < 4; ++b) record[4 * i + b] = static_cast<uint8_t>(fixed[i] >> (8 * b));
  }
  const uint8_t address[16] = {2, 0, 0x1B, 0xD9, 198, 18, 0, 12};
  std::memcpy(record.data() + 28, address, 16);
  std::memcpy(record.data() + 44, name.data(), name.size());
  return record;
}

class TerminalTextTest : public testing::Test {
 protected:
  void SetUp() override { SetTerminalEncoding("UTF-8"); }
  void TearDown() override { SetTerminalEncoding(""); }

  // What one received memo prints, in human or machine form.
  static std::string Receive(bool machine, const std::string& name, const std::string& payload) {
    Output out(machine);
    SetMemoOutput(&out);
    const std::vector<uint8_t> record = PeerRecord(name);
    const std::string frame = payload + "12345678";
    testing::internal::CaptureStdout();
    ReceiveMemo(record.data(), static_cast<int32_t>(record.size()), frame.data(),
                static_cast<int32_t>(frame.size()));
    SetMemoOutput(nullptr);
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(TerminalTextTest, ReceivedMemosAreShownConvertedWhileMachineLinesKeepTheBytes) {
  const std::string name = "\x88\xa4 (198.18.0.12)";  // 愛
  EXPECT_EQ(Receive(false, name, "\x82\xb1\x82\xf1\x0a\x82"),
            "memo from 愛 (198.18.0.12) (6 bytes): こん\\x0A\\x82\n");
  EXPECT_EQ(Receive(true, name, "\x82\xb1"),
            "MEMO accepted=1 from=198.18.0.12 port=7129 name=\"\\x88\\xA4 (198.18.0.12)\" "
            "length=10 data=\"\\x82\\xB1\"\n");
  // A long memo is shown up to a whole character.
  const std::string shown = Receive(false, name, std::string(4095, 'a') + "\x82\xa0");
  EXPECT_TRUE(shown.ends_with("aaaa ...\n")) << shown.substr(shown.size() - 12);
}

TEST_F(TerminalTextTest, TypedMemosAreSentAsCp932OrNotAtAll) {
  PluginApi api;
  api.SendMemoData = FakeSendMemoData;
  Output out(true);
  struct NoWindow final : WindowThread {
    PB_HWND window() const override { return nullptr; }
    void Run(const std::function<void()>& work) override { work(); }
  } window;
  Session session{api, window, out};
  const struct {
    const char* line;
    bool sent;
    std::string bytes_or_error;
  } cases[] = {
      {"send 198.18.0.9 こんにちは〜", true, "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\x81\x60"},
      {"send 198.18.0.9 ｱｲ①", true, "\xb1\xb2\x87\x40"},
      {"send 198.18.0.9 caf\xc3\xa9", false,
       "ERR send: not sent: \\\"\\xC3\\xA9\\\" has no code in the Windows Japanese code page"},
      {"send 198.18.0.9 \"a \xf0\x9f\x98\x80\"", false,
       "ERR send: not sent: \\\"\\xF0\\x9F\\x98\\x80\\\" has no code"},
      {"send 198.18.0.9 bad\xff", false, "ERR send: not sent: the text is not valid UTF-8"},
  };
  for (const auto& c : cases) {
    g_sends = 0;
    std::istringstream in(std::string(c.line) + "\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunCommandLoop(session, in, false), c.sent) << c.line;
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_sends, c.sent ? 1 : 0) << c.line;
    if (c.sent) {
      EXPECT_EQ(g_sent, c.bytes_or_error) << c.line;
    } else {
      EXPECT_NE(printed.find(c.bytes_or_error), std::string::npos) << c.line << "\n" << printed;
    }
  }
  // A person reads the refusal in the terminal's own encoding.
  Output human(false);
  Session person{api, window, human};
  std::istringstream in("send 198.18.0.9 caf\xc3\xa9\n");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(RunCommandLoop(person, in, false));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "error: send: not sent: \"\xc3\xa9\" has no code in the Windows Japanese code page "
            "(CP932); retype without it\n");
}

TEST(ResolveEncodingTest, MachineOutputStaysRawUnlessAsked) {
  const struct {
    const char* option;
    bool machine;
    bool ok;
    const char* encoding;
  } cases[] = {
      {"", true, true, ""},
      {"raw", false, true, ""},
      {"EUC-JP", true, true, "EUC-JP"},
      {"NO-SUCH-ENCODING", false, false, ""},
  };
  for (const auto& c : cases) {
    std::string encoding = "?", error;
    EXPECT_EQ(ResolveEncoding(c.option, c.machine, &encoding, &error), c.ok) << c.option;
    if (c.ok) {
      EXPECT_EQ(encoding, c.encoding) << c.option;
    }
  }
  std::string encoding, error;
  EXPECT_TRUE(ResolveEncoding("", false, &encoding, &error));
  EXPECT_FALSE(encoding.empty());  // the locale's, UTF-8 in the C locale
}

}  // namespace
}  // namespace pbhost
