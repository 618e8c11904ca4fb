// line_editor_test_posix.cc: the Linux prompt over a pseudo-terminal: a memo that arrives
// while a line is typed, completion, history and the end of input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "host/line_editor.h"
#include "tests/pty_output_posix.h"
#include "tests/wait_until.h"

namespace pbhost {
namespace {

// One pseudo-terminal for all the tests, kept until the process ends: libedit binds its streams
// once per process.
class LineEditorTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (master_ >= 0) return;
    setenv("TERM", "xterm", 1);
    // A UTF-8 terminal, as most are; the editor takes its encoding from the locale.
    setenv("LC_ALL", "C.UTF-8", 1);
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const int slave = open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (slave < 0) return;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    ioctl(slave, TIOCSWINSZ, &size);
    in_ = fdopen(slave, "r");
    out_ = fdopen(dup(slave), "w");
  }
  void SetUp() override {
    ASSERT_NE(out_, nullptr);
    editor_ = MakeLineEditor(in_, out_, "pb> ", {"peers", "send", "send-wait"});
    ASSERT_NE(editor_, nullptr);
  }

  // Starts reading one line on a thread of its own, as the host's command thread does.
  void StartReading() {
    line_.clear();
    seen_.clear();
    reading_ = std::async(std::launch::async, [this] { return editor_->Next(&line_); });
  }
  void Type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  // Reads the terminal until `text` has appeared behind what earlier calls consumed.
  bool Expect(const std::string& text) {
    if (pb::test_support::ReadPtyUntil(master_, text, &seen_)) return true;
    ADD_FAILURE() << "no \"" << text << "\" in:\n" << seen_;
    return false;
  }
  // Waits until the editor has put the terminal in its editing mode, that is, until it takes
  // keys (the prompt text alone may still be on the screen from an earlier line).
  bool Editing() {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(pb::test_support::ScaledMs(5000));
    for (;;) {
      termios mode{};
      if (tcgetattr(fileno(in_), &mode) == 0 && (mode.c_lflag & ICANON) == 0) return true;
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the editor never took the terminal";
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // The line read, or "<end>" at the end of input; "<stuck>" when no line came in time.
  std::string Finish() {
    if (reading_.wait_for(std::chrono::milliseconds(pb::test_support::ScaledMs(5000))) !=
        std::future_status::ready) {
      Type("\r");  // let the reader return so that the test can end
      reading_.wait();
      return "<stuck>";
    }
    return reading_.get() ? line_ : "<end>";
  }

  static inline int master_ = -1;
  static inline FILE* in_ = nullptr;
  static inline FILE* out_ = nullptr;
  std::unique_ptr<LineEditor> editor_;
  std::future<bool> reading_;
  std::string line_;
  std::string seen_;
};

TEST_F(LineEditorTest, MemoWhileTypingLandsAboveTheRedrawnLine) {
  StartReading();
  ASSERT_TRUE(Editing());
  Type("send al");
  ASSERT_TRUE(Expect("send al"));
  editor_->Write(out_, "memo from bob: hi\n");
  // The memo on its own line, then the prompt with the partial line again, which the person
  // finishes.
  ASSERT_TRUE(Expect("memo from bob: hi\r\n"));
  ASSERT_TRUE(Expect("pb> send al"));
  Type("ice hi\r");
  EXPECT_EQ(Finish(), "send alice hi");
  // Between lines, text is written straight through.
  editor_->Write(out_, "between lines\n");
  EXPECT_TRUE(Expect("between lines\r\n"));
}

TEST_F(LineEditorTest, CompletesCommandNamesRecallsHistoryAndEnds) {
  StartReading();
  ASSERT_TRUE(Editing());
  Type("pe\tx\r");  // completion adds the blank
  EXPECT_EQ(Finish(), "peers x");
  StartReading();
  ASSERT_TRUE(Editing());
  Type("\x1b[A\r");  // up arrow: the line before
  EXPECT_EQ(Finish(), "peers x");
  StartReading();
  ASSERT_TRUE(Editing());
  Type("send \xe3\x81\x82\xe3\x81\x84 x\x7f\x7f\r");  // two kana, then erase two characters
  EXPECT_EQ(Finish(), "send \xe3\x81\x82\xe3\x81\x84");
  StartReading();
  ASSERT_TRUE(Editing());
  Type("\x04");  // Ctrl-D on an empty line
  EXPECT_EQ(Finish(), "<end>");
}

}  // namespace
}  // namespace pbhost
