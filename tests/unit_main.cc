// unit_main.cc: the GoogleTest entry point shared by every unit test program.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <winsock.h>
#endif

int main(int argc, char** argv) {
#if defined(_WIN32)
  // The host starts Winsock 1.1 before it uses the plug-in; the tests stand in for it.
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 2;
#endif
  testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
#if defined(_WIN32)
  WSACleanup();
#endif
  return rc;
}
