// line_editor_posix.cc: the Linux host's prompt, on libedit's readline interface.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <utility>

#include "host/line_editor.h"
#include "host/peer_table.h"

#ifdef PB_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace pbhost {

#ifdef PB_HAVE_LIBEDIT
namespace {

// libedit's readline interface keeps one editor per process, and so does this file.
class LibeditLineEditor;
LibeditLineEditor* g_editor = nullptr;

class LibeditLineEditor final : public LineEditor {
 public:
  LibeditLineEditor(std::FILE* in, std::FILE* out, std::string prompt,
                    std::vector<std::string> first_words)
      : in_(in), out_(out), prompt_(std::move(prompt)), first_words_(std::move(first_words)) {}

  bool Open() {
    // libedit binds its streams once; a later editor may only use the same ones.
    static std::FILE* bound_in = nullptr;
    static std::FILE* bound_out = nullptr;
    if (g_editor != nullptr || (bound_in != nullptr && (bound_in != in_ || bound_out != out_)) ||
        pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
      return false;
    }
    g_editor = this;
    bound_in = rl_instream = in_;
    bound_out = rl_outstream = out_;
    rl_readline_name = const_cast<char*>("peerbeacon");
    rl_attempted_completion_function = Complete;
    rl_getc_function = ReadCharacter;
    // Characters are read in the terminal's encoding (from the locale); in the C locale the
    // editor would drop every byte outside ASCII.
    setlocale(LC_CTYPE, "");
    // Once per process: every start of libedit's readline interface loses a little memory.
    static const bool initialized = (rl_initialize(), true);
    (void)initialized;
    return true;
  }

  ~LibeditLineEditor() override {
    if (g_editor != this) return;
    g_editor = nullptr;
    clear_history();
    close(wake_[0]);
    close(wake_[1]);
  }

  bool Next(std::string* line) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      active_ = true;
    }
    done_ = false;
    ended_ = false;
    rl_callback_handler_install(prompt_.c_str(), OnLine);
    while (!done_) {
      end_typed_ = false;
      pollfd fds[2] = {{fileno(in_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        ended_ = done_ = true;
        break;
      }
      if (fds[1].revents != 0) ShowPending();
      if ((fds[0].revents & POLLIN) != 0) rl_callback_read_char();
      // libedit ends the line without telling the handler when the end-of-input key is typed
      // on an empty line.
      if (!done_ && end_typed_) ended_ = done_ = true;
      // A terminal that went away reads nothing more; without this the loop would spin.
      if (!done_ && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) ended_ = done_ = true;
    }
    rl_callback_handler_remove();
    std::lock_guard<std::mutex> lock(mutex_);
    active_ = false;
    if (end_typed_) Put(out_, "\n");  // what follows starts below the prompt
    // Text that came after the line was entered goes below it; the prompt is not redrawn.
    for (const auto& [stream, text] : pending_) Put(stream, text);
    pending_.clear();
    if (ended_) return false;
    *line = std::move(line_);
    if (line->find_first_not_of(" \t") != std::string::npos) add_history(line->c_str());
    return true;
  }

  void Write(std::FILE* stream, const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!active_) {
      Put(stream, text);
      return;
    }
    // libedit is driven from the reading thread only; it shows the text when woken.
    pending_.emplace_back(stream, text);
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(wake_[1], &byte, 1);
  }

 private:
  static void Put(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
  }

  // Clears the line being typed, writes what is pending and redraws the prompt and the line.
  void ShowPending() {
    char bytes[64];
    while (read(wake_[0], bytes, sizeof bytes) > 0) {
    }
    std::vector<std::pair<std::FILE*, std::string>> texts;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      texts.swap(pending_);
    }
    if (texts.empty()) return;
    Put(out_, "\r\x1b[K");
    for (const auto& [stream, text] : texts) Put(stream, text);
    rl_forced_update_display();
  }

  // One character, decoded as the locale says; notes the end-of-input key on an empty line.
  static int ReadCharacter(FILE* in) {
    mbstate_t state{};
    for (;;) {
      unsigned char byte = 0;
      const ssize_t got = read(fileno(in), &byte, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return EOF;
      termios mode{};
      if (rl_end == 0 && tcgetattr(fileno(in), &mode) == 0 && byte == mode.c_cc[VEOF]) {
        g_editor->end_typed_ = true;
      }
      wchar_t character = 0;
      const size_t used = mbrtowc(&character, reinterpret_cast<const char*>(&byte), 1, &state);
      if (used == static_cast<size_t>(-2)) continue;  // more bytes of this character follow
      if (used == static_cast<size_t>(-1)) {
        state = mbstate_t{};  // not a character in this encoding: dropped
        continue;
      }
      return static_cast<int>(character);
    }
  }

  static void OnLine(char* typed) {
    LibeditLineEditor* self = g_editor;
    self->done_ = true;
    self->ended_ = typed == nullptr;
    if (typed != nullptr) self->line_ = typed;
    std::free(typed);
  }

  static char* NextWord(const char* text, int state) {
    static size_t at = 0;
    if (state == 0) at = 0;
    const std::vector<std::string>& words = g_editor->first_words_;
    const size_t length = std::strlen(text);
    while (at < words.size()) {
      const std::string& word = words[at++];
      if (word.compare(0, length, text) == 0) return strdup(word.c_str());
    }
    return nullptr;
  }

  // Completes the first word from the list; nothing else (file names mean nothing here).
  static char** Complete(const char* text, int start, int /*end*/) {
    rl_attempted_completion_over = 1;
    return start == 0 ? rl_completion_matches(text, NextWord) : nullptr;
  }

  std::FILE* const in_;
  std::FILE* const out_;
  const std::string prompt_;
  const std::vector<std::string> first_words_;
  int wake_[2] = {-1, -1};
  // Touched by the reading thread only.
  bool done_ = false;
  bool ended_ = false;
  bool end_typed_ = false;
  std::string line_;
  std::mutex mutex_;
  bool active_ = false;  // guarded by mutex_: Next is waiting for a line
  std::vector<std::pair<std::FILE*, std::string>> pending_;  // guarded by mutex_
};

}  // namespace

std::unique_ptr<LineEditor> MakeLineEditor(std::FILE* in, std::FILE* out, const std::string& prompt,
                                           std::vector<std::string> first_words) {
  // Output sent to a file or a pipe gets plain lines, not the editor's terminal controls.
  if (isatty(fileno(in)) != 1 || isatty(fileno(out)) != 1) return nullptr;
  auto editor = std::make_unique<LibeditLineEditor>(in, out, prompt, std::move(first_words));
  if (!editor->Open()) return nullptr;
  return editor;
}
#else
std::unique_ptr<LineEditor> MakeLineEditor(std::FILE*, std::FILE*, const std::string&,
                                           std::vector<std::string>) {
  return nullptr;
}
#endif

size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return ColumnsFromEnvironment();
}

}  // namespace pbhost
