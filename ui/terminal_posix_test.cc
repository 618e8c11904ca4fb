// terminal_posix_test.cc: the Linux build's dialogs as terminal forms, driven through the
// exports over a pseudo-terminal, and the dialogs without any terminal.
#include "ui/terminal_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <iterator>
#include <string>

#include "peerbeacon.h"
#include "platform/platform.h"
#include "tests/pty_output_posix.h"
#include "tests/wait_until.h"
#include "ui/message_texts.h"
#include "ui/resource_ids.h"
#include "ui/settings_dialog.h"

namespace pb::ui {
namespace {

// A pseudo-terminal whose slave the dialogs open through PEERBEACON_TTY. Echo and output
// translation are off, so the master reads exactly what the forms write.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const char* name = ptsname(master_);
    if (name == nullptr) return;
    slave_name_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY);
    termios mode{};
    tcgetattr(slave_, &mode);
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(slave_, TCSANOW, &mode);
    setenv("PEERBEACON_TTY", name, 1);
  }
  ~PseudoTerminal() {
    unsetenv("PEERBEACON_TTY");
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  bool ok() const { return slave_ >= 0; }

  // Reads until text has appeared behind what earlier calls consumed; false when it does not
  // within the budget.
  bool Expect(const std::string& text) {
    if (test_support::ReadPtyUntil(master_, text, &seen_)) return true;
    ADD_FAILURE() << "no \"" << text << "\" in:\n" << seen_;
    // End the form's input so that the export returns and the test can finish.
    for (int i = 0; i < 8; ++i) (void)!write(master_, "\x04", 1);
    return false;
  }
  void Send(const std::string& line) {
    const std::string all = line + "\n";
    ASSERT_EQ(write(master_, all.data(), all.size()), static_cast<ssize_t>(all.size()));
  }
  // Answers a field's prompt that shows current_value.
  void Answer(const std::string& label, const std::string& current_value,
              const std::string& typed) {
    if (Expect(label + " [" + current_value + "] ")) Send(typed);
  }
  void SendEndOfInput() { ASSERT_EQ(write(master_, "\x04", 1), 1); }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_name_;
  std::string seen_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <typename F>
auto Async(F f) {
  return std::async(std::launch::async, f);
}

class TerminalFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The forms show and read text in the locale's encoding; these tests type UTF-8.
    setenv("LC_ALL", "C.UTF-8", 1);
    ASSERT_TRUE(tty_.ok());
    settings_ = DialogSettingsPath();
    user_ = UserSectionName();
    std::remove(settings_.c_str());
  }
  void TearDown() override {
    std::remove(settings_.c_str());
    unsetenv("LC_ALL");
  }

  PseudoTerminal tty_;
  std::string settings_;
  std::string user_;
};

TEST_F(TerminalFormTest, SettingsFormRefusesThenSavesWhatWasTyped) {
  const std::string dir = platform::ReplaceFileName(settings_, "");
  const std::string node_list = dir + "nodes.ini";
  std::ofstream(node_list) << "[GROUP]\r\n";
  auto shown = Async([] { return NetExConfigure(reinterpret_cast<PB_HWND>(1)); });

  ASSERT_TRUE(tty_.Expect("== entry sheet =="));
  tty_.Answer("join address :", "239.191.38.82", "10.0.0.1");
  tty_.Answer("I/F address :", "0.0.0.0", "");
  tty_.Answer("port :", "7129", "7300");
  tty_.Answer("TTL :", "1", "4");
  tty_.Answer("nickname :", user_, "Alice");
  tty_.Answer("group :", "Anonymous", "Dev>Core");
  ASSERT_TRUE(
      tty_.Expect("node list : 0=disable 1=nickname 2=logon id 3=computer name 4=ip address [1] "));
  tty_.Send("9");  // no such choice: asked again
  ASSERT_TRUE(tty_.Expect("[1] "));
  tty_.Send("2");
  tty_.Answer("node list file :", "", "");
  ASSERT_TRUE(tty_.Expect("[sel] sel...  [ok] OK  [cancel] CANCEL  [help] Help  [edit] fields"));
  tty_.Send("ok");
  ASSERT_TRUE(tty_.Expect(
      "[data error] 入力されたアドレスはマルチキャストのアドレスとして使用できません。\n"
      "マルチキャストのアドレスは 224.0.0.0-239.255.255.255 の範囲です。\n(Enter) "));
  EXPECT_FALSE(platform::FileExists(settings_));
  tty_.Send("");
  ASSERT_TRUE(tty_.Expect("> "));
  tty_.Send("edit");
  tty_.Answer("join address :", "10.0.0.1", "239.1.2.3");
  for (int i = 0; i < 7; ++i) tty_.Send("");  // the other fields keep their values
  ASSERT_TRUE(tty_.Expect("node list file : [] "));
  ASSERT_TRUE(tty_.Expect("> "));
  tty_.Send("help 200");
  ASSERT_TRUE(tty_.Expect("help pop-up: Peerbeacon.hlp, context 393416\n"));
  tty_.Send("help");
  ASSERT_TRUE(tty_.Expect("help: Peerbeacon.hlp, context 1000\n"));
  tty_.Send("sel");
  ASSERT_TRUE(tty_.Expect("nodelist(*.ini) *.ini - file (empty cancels): "));
  tty_.Send(dir + "missing");
  ASSERT_TRUE(tty_.Expect("missing.ini: no such file\n"));
  tty_.Send(dir + "nodes");  // the default extension completes the name
  ASSERT_TRUE(tty_.Expect("> "));
  tty_.Send("");  // Enter presses the default button
  ASSERT_EQ(shown.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(shown.get(), 1);

  EXPECT_EQ(ReadFile(settings_), "[" + user_ +
                                     "]\r\n"
                                     "McstPort=7300\r\n"
                                     "McstAddr=239.1.2.3\r\n"
                                     "McstIF=0.0.0.0\r\n"
                                     "McstTTL=4\r\n"
                                     "Nickname=Alice\r\n"
                                     "Group=Dev>Core\r\n"
                                     "SeedType=1\r\n"
                                     "NodeListPath=" +
                                     node_list + "\r\n");
  std::remove(node_list.c_str());
}

TEST_F(TerminalFormTest, SettingsFormDefaultsSavedByteForByte) {
  auto shown = Async([] { return NetExConfigure(nullptr); });
  ASSERT_TRUE(tty_.Expect("join address : [239.191.38.82] "));
  for (int i = 0; i < 8; ++i) tty_.Send("");  // Enter keeps every shown value
  ASSERT_TRUE(tty_.Expect("node list file : [] "));
  ASSERT_TRUE(tty_.Expect("> "));
  tty_.Send("");
  ASSERT_EQ(shown.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(shown.get(), 1);
  EXPECT_EQ(ReadFile(settings_), "[" + user_ + "]\r\nMcstPort=7129\r\nMcstAddr=239.191.38.82\r\n" +
                                     "McstIF=0.0.0.0\r\nMcstTTL=1\r\nNickname=" + user_ +
                                     "\r\nGroup=Anonymous\r\nSeedType=0\r\nNodeListPath=\r\n");
}

TEST_F(TerminalFormTest, CancelAndEndOfInputWriteNothing) {
  // A stored value cannot drive the terminal: control characters show as '?'.
  ASSERT_TRUE(
      platform::WriteProfileString(user_.c_str(), "Nickname", "A\x1b[2J", settings_.c_str()));
  const std::string before = ReadFile(settings_);
  auto shown = Async([] { return NetExConfigure(nullptr); });
  for (int i = 0; i < 4; ++i) tty_.Send("");  // the multicast fields
  tty_.Answer("nickname :", "A?[2J", "Bob");
  tty_.Answer("group :", "Anonymous", "");
  tty_.Send("");
  tty_.Answer("node list file :", "", "");
  ASSERT_TRUE(tty_.Expect("> "));
  tty_.Send("cancel");
  ASSERT_EQ(shown.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(shown.get(), 1);
  EXPECT_EQ(ReadFile(settings_), before);

  shown = Async([] { return NetExConfigure(nullptr); });
  ASSERT_TRUE(tty_.Expect("join address : [239.191.38.82] "));
  tty_.Send("239.9.9.9");
  tty_.SendEndOfInput();  // like Escape
  ASSERT_EQ(shown.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(shown.get(), 1);
  EXPECT_EQ(ReadFile(settings_), before);
}

TEST_F(TerminalFormTest, FieldsAreTypedAndShownInTheTerminalsEncodingButStoredAsShiftJis) {
  ASSERT_TRUE(platform::WriteProfileString(user_.c_str(), "Nickname", "\x88\xa4",  // 愛
                                           settings_.c_str()));
  ASSERT_TRUE(platform::WriteProfileString(user_.c_str(), "Group", "\x89\x63\x8b\xc6\x82",
                                           settings_.c_str()));  // 営業, a stray lead byte
  auto shown = Async([] { return NetExConfigure(nullptr); });
  for (int i = 0; i < 4; ++i) tty_.Send("");  // the multicast fields
  tty_.Answer("nickname :", "愛", "caf\xc3\xa9");
  ASSERT_TRUE(tty_.Expect("has no code in the Windows Japanese code page (CP932); type the value"));
  std::string long_name;
  for (int i = 0; i < 31; ++i) long_name += "あ";  // 62 bytes of Shift-JIS
  tty_.Answer("nickname :", "愛", long_name);
  tty_.Answer("group :", "営業\\x82", "営業>東京");
  tty_.Send("");
  tty_.Answer("node list file :", "", "");
  ASSERT_TRUE(tty_.Expect("> "));
  tty_.Send("ok");
  ASSERT_EQ(shown.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  std::string sixty;
  for (int i = 0; i < 30; ++i) sixty += "\x82\xa0";  // the cut keeps whole characters
  const std::string saved = ReadFile(settings_);
  EXPECT_NE(saved.find("Nickname=" + sixty + "\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Group=\x89\x63\x8b\xc6>\x93\x8c\x8b\x9e\r\n"), std::string::npos) << saved;
}

TEST_F(TerminalFormTest, DashClearsAFieldWhileEnterKeepsIt) {
  ASSERT_TRUE(platform::WriteProfileString(user_.c_str(), "Group", "Dev", settings_.c_str()));
  ASSERT_TRUE(
      platform::WriteProfileString(user_.c_str(), "NodeListPath", "/nl.ini", settings_.c_str()));
  auto shown = Async([] { return NetExConfigure(nullptr); });
  ASSERT_TRUE(tty_.Expect("(Enter keeps a value, - clears it)\n"));
  tty_.Answer("join address :", "239.191.38.82", "");
  tty_.Answer("I/F address :", "0.0.0.0", "-");
  for (int i = 0; i < 3; ++i) tty_.Send("");  // port, TTL, nickname
  tty_.Answer("group :", "Dev", "-");
  tty_.Send("");
  tty_.Answer("node list file :", "/nl.ini", "-");
  ASSERT_TRUE(tty_.Expect("> "));
  tty_.Send("ok");  // an empty interface address does not parse
  ASSERT_TRUE(
      tty_.Expect("[data error] " + Cp932ForTerminal(MessageTextSjis(PB_IDS_BAD_INTERFACE))));
  tty_.Send("");
  ASSERT_TRUE(tty_.Expect("> "));
  tty_.Send("edit");
  tty_.Send("");
  tty_.Answer("I/F address :", "", "0.0.0.0");
  for (int i = 0; i < 3; ++i) tty_.Send("");
  tty_.Answer("group :", "", "");
  tty_.Send("");
  tty_.Answer("node list file :", "", "");
  ASSERT_TRUE(tty_.Expect("> "));
  tty_.Send("ok");
  ASSERT_EQ(shown.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(shown.get(), 1);
  char value[64];
  for (const char* key : {"Group", "NodeListPath"}) {
    platform::GetProfileString(user_.c_str(), key, "<missing>", value, sizeof value,
                               settings_.c_str());
    EXPECT_STREQ(value, "") << key;
  }
}

// The nickname keeps at most 60 bytes and never ends inside a Shift-JIS double-byte character,
// whether it was typed or stored cut short. Trail bytes may have a lead byte's value (0x81 0x81).
TEST_F(TerminalFormTest, NicknameCutKeepsWholeCharacters) {
  const std::string ka = "\x83\x4A", eq = "\x81\x81";
  auto repeat = [](const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  const struct {
    std::string stored;  // empty: typed instead
    std::string typed;
    std::string saved;
  } cases[] = {
      {"", repeat(ka, 30), repeat(ka, 30)},
      {"", "a" + repeat(ka, 30), "a" + repeat(ka, 29)},
      {"", repeat(eq, 30), repeat(eq, 30)},
      {"", "x" + repeat(eq, 30), "x" + repeat(eq, 29)},
      {"", std::string(61, '\xB1'), std::string(60, '\xB1')},  // half-width kana are single
      {std::string(59, 'n') + ka, "", std::string(59, 'n')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Printable(c.typed.empty() ? c.stored : c.typed));
    std::remove(settings_.c_str());
    if (!c.stored.empty()) {
      ASSERT_TRUE(platform::WriteProfileString(user_.c_str(), "Nickname", c.stored.c_str(),
                                               settings_.c_str()));
    }
    auto shown = Async([] { return NetExConfigure(nullptr); });
    for (int i = 0; i < 4; ++i) tty_.Send("");
    ASSERT_TRUE(tty_.Expect("nickname : ["));
    tty_.Send(Cp932ForTerminal(c.typed));  // typed as the terminal encodes it
    for (int i = 0; i < 3; ++i) tty_.Send("");
    ASSERT_TRUE(tty_.Expect("node list file : [] "));
    ASSERT_TRUE(tty_.Expect("> "));
    tty_.Send("ok");
    ASSERT_EQ(shown.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(shown.get(), 1);
    char saved[256];
    platform::GetProfileString(user_.c_str(), "Nickname", "", saved, sizeof saved,
                               settings_.c_str());
    EXPECT_EQ(std::string(saved), c.saved);
  }
}

TEST_F(TerminalFormTest, DirectInputFormMakesTheRecordOrNothing) {
  PB_HGLOBAL handle = nullptr;
  auto made = Async([&] { return InputEntry(nullptr, &handle); });
  ASSERT_TRUE(tty_.Expect("== 直接入力 ==\n  送信先のIPアドレス\n"));
  tty_.Answer(">", "", "192.168.1.20");
  ASSERT_TRUE(tty_.Expect("[ok] OK  [cancel] ｷｬﾝｾﾙ  [edit] fields  \n> "));
  tty_.Send("");
  ASSERT_EQ(made.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  ASSERT_EQ(made.get(), 1);
  ASSERT_NE(handle, nullptr);
  const auto* record = static_cast<const uint8_t*>(handle);
  EXPECT_EQ(record[0], 57);
  EXPECT_EQ(record[24], 44);
  EXPECT_STREQ(reinterpret_cast<const char*>(record + 44), "192.168.1.20");
  EXPECT_EQ(record[32], 192);
  EXPECT_EQ(record[35], 20);
  platform::GlobalFreeBlock(handle);

  PB_HGLOBAL untouched = reinterpret_cast<PB_HGLOBAL>(0x99);
  made = Async([&] { return InputEntry(nullptr, &untouched); });
  tty_.Answer(">", "", "10.0.0.1");
  ASSERT_TRUE(tty_.Expect("> "));
  tty_.Send("cancel");
  ASSERT_EQ(made.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(made.get(), 2);
  EXPECT_EQ(untouched, reinterpret_cast<PB_HGLOBAL>(0x99));
}

TEST_F(TerminalFormTest, AboutFormShowsNameAndVersion) {
  auto shown = Async([] { return NetExAbout(nullptr); });
  ASSERT_TRUE(tty_.Expect("== About ==\n  Peerbeacon plug-in for Winsock1.1\n  Version 1.07\n"));
  ASSERT_TRUE(tty_.Expect("[ok] OK  \n> "));
  tty_.Send("ok");
  ASSERT_EQ(shown.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(shown.get(), 1);
}

TEST(TerminalTextTest, MessagesConvertFromShiftJis) {
  const struct {
    int id;
    const char* utf8;
  } expected[] = {
      {500, "マルチキャストアドレスが無効な値です。"},
      {501,
       "使用するインターフェイスカードのアドレスが無効な値です。\n"
       "デフォルトを使用する場合は 0.0.0.0 を設定してください。"},
      {502, "ポート番号が無効な値です。"},
      {503, "マルチキャストで使用するTTLが無効な値です。"},
      {504, "エントリ名が未入力です。"},
      {505,
       "入力されたアドレスはマルチキャストのアドレスとして使用できません。\n"
       "マルチキャストのアドレスは 224.0.0.0-239.255.255.255 の範囲です。"},
      {506, "設定を保存できませんでした。"},
  };
  for (const auto& e : expected) EXPECT_EQ(Cp932ForTerminal(MessageTextSjis(e.id)), e.utf8) << e.id;
  EXPECT_EQ(MessageTextSjis(499), nullptr);
  EXPECT_EQ(MessageTextSjis(507), nullptr);
  EXPECT_EQ(Cp932ForTerminal("ok\x82"), "ok\\x82");  // a cut-off double-byte character
}

TEST(NoTerminalTest, DialogsEndAsCancelled) {
  // A child without a controlling terminal: /dev/tty cannot be opened there.
  const std::string settings = DialogSettingsPath();
  std::remove(settings.c_str());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setsid();
    unsetenv("PEERBEACON_TTY");
    PB_HGLOBAL handle = reinterpret_cast<PB_HGLOBAL>(0x42);
    const bool ok = InputEntry(nullptr, &handle) == 2 &&
                    handle == reinterpret_cast<PB_HGLOBAL>(0x42) && NetExConfigure(nullptr) == 1 &&
                    NetExAbout(nullptr) == 1;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(platform::FileExists(settings));
}

}  // namespace
}  // namespace pb::ui
