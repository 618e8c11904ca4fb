// output.h: the host's line output, shared by the command thread and the memo callback.
#ifndef PEERBEACON_HOST_OUTPUT_H_
#define PEERBEACON_HOST_OUTPUT_H_

#include <mutex>
#include <string>

namespace pbhost {

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

 private:
  void Write(const std::string& text, bool to_stderr);
  const bool machine_;
  std::mutex mutex_;
};

}  // namespace pbhost

#endif  // PEERBEACON_HOST_OUTPUT_H_
