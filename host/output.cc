// output.cc: serialised, flushed line output.
#include "host/output.h"

#include <cstdio>

namespace pbhost {

void Output::Machine(const std::string& line) {
  if (machine_) Write(line + "\n", false);
}

void Output::Human(const std::string& line) {
  if (!machine_) Write(line + "\n", false);
}

void Output::Warn(const std::string& line) { Write("peerbeacon-host: " + line + "\n", true); }

void Output::Prompt(const std::string& prompt) { Write(prompt, false); }

void Output::SetTerminalLine(TerminalLine* line) {
  std::lock_guard<std::mutex> lock(mutex_);
  line_ = line;
}

void Output::Write(const std::string& text, bool to_stderr) {
  std::lock_guard<std::mutex> lock(mutex_);
  FILE* stream = to_stderr ? stderr : stdout;
  if (line_ != nullptr) {
    line_->Write(stream, text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace pbhost
