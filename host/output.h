// output.h: the host's line output, shared by the command thread and the memo callback.
#ifndef PEERBEACON_HOST_OUTPUT_H_
#define PEERBEACON_HOST_OUTPUT_H_

#include <cstdio>
#include <mutex>
#include <string>

namespace pbhost {

// Whatever owns the terminal's current line while a person types (the line editor): output
// goes through it so that it lands on lines of its own above the line being typed.
class TerminalLine {
 public:
  virtual ~TerminalLine() = default;
  // Writes `text` to `stream` (stdout or stderr) and flushes it. Called with Output's lock held.
  virtual void Write(std::FILE* stream, const std::string& text) = 0;
};

// Writes whole lines to standard output, each flushed at once so that a test reading a pipe
// sees every fact when it happens. In machine mode only Machine lines appear, otherwise only
// Human lines; Warn goes to standard error in both.
class Output {
 public:
  explicit Output(bool machine) : machine_(machine) {}
  bool machine() const { return machine_; }

  void Machine(const std::string& line);
  void Human(const std::string& line);
  void Warn(const std::string& line);
  // The interactive prompt, without a line break.
  void Prompt(const std::string& prompt);
  // From now on every write goes through `line`; null writes directly again.
  void SetTerminalLine(TerminalLine* line);

 private:
  void Write(const std::string& text, bool to_stderr);
  const bool machine_;
  std::mutex mutex_;
  TerminalLine* line_ = nullptr;  // guarded by mutex_
};

}  // namespace pbhost

#endif  // PEERBEACON_HOST_OUTPUT_H_
