// test_host_posix.cc: the Linux stand-in for the messenger's window: a token, no message loop.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "tests/test_host.h"

namespace pb::testing_host {

PB_HANDLE MakeCancelHandle() {
  const int fd = eventfd(0, EFD_CLOEXEC);
  return fd < 0 ? nullptr : reinterpret_cast<PB_HANDLE>(static_cast<intptr_t>(fd));
}

void SignalCancelHandle(PB_HANDLE handle) {
  const uint64_t one = 1;
  const ssize_t written = write(static_cast<int>(reinterpret_cast<intptr_t>(handle)), &one, 8);
  (void)written;
}

void CloseCancelHandle(PB_HANDLE handle) {
  close(static_cast<int>(reinterpret_cast<intptr_t>(handle)));
}

}  // namespace pb::testing_host
