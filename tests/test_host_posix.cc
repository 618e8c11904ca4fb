// test_host_posix.cc: the Linux stand-in for the messenger's window: a token, no message loop.
#include <fcntl.h>
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

// A descriptor number far above any the process opens.
PB_HANDLE UnopenedCancelHandle() { return reinterpret_cast<PB_HANDLE>(intptr_t{0x7FFFFF00}); }

PB_HANDLE ClosedCancelHandle() {
  const int fd = eventfd(0, EFD_CLOEXEC);
  if (fd < 0) return nullptr;
  // Moved above the descriptors in use, so that the lowest-free rule never hands its number to
  // a socket or event opened afterwards.
  const int high = fcntl(fd, F_DUPFD_CLOEXEC, 512);
  close(fd);
  if (high < 0) return nullptr;
  close(high);
  return reinterpret_cast<PB_HANDLE>(static_cast<intptr_t>(high));
}

}  // namespace pb::testing_host
