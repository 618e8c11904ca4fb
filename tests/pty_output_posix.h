// pty_output_posix.h: reading what a program under test writes to a pseudo-terminal.
#ifndef PEERBEACON_TESTS_PTY_OUTPUT_POSIX_H_
#define PEERBEACON_TESTS_PTY_OUTPUT_POSIX_H_

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "tests/wait_until.h"

namespace pb::test_support {

// Reads the pseudo-terminal's master until text has appeared in *seen, which keeps what was
// read and not yet consumed; what comes up to the end of text is consumed. False when text
// does not appear within the (scaled) budget.
inline bool ReadPtyUntil(int master, const std::string& text, std::string* seen,
                         uint32_t budget_ms = 5000) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(budget_ms));
  for (;;) {
    const size_t at = seen->find(text);
    if (at != std::string::npos) {
      seen->erase(0, at + text.size());
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[512];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n > 0) seen->append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace pb::test_support

#endif  // PEERBEACON_TESTS_PTY_OUTPUT_POSIX_H_
