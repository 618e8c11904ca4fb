// test_host.cc: the platform-neutral helpers of the in-process messenger.
#include "tests/test_host.h"

#include <fstream>

#include "core/settings.h"
#include "net/socket.h"
#include "platform/platform.h"
#include "wire/byte_order.h"

namespace pb::testing_host {

int32_t Initialize(const char* text, MemoReceiveCallback callback) {
  int32_t result = 0;
  RunOnWindowThread([&] { result = InitializeNetEx(Window(), text, callback); });
  return result;
}

int32_t UnInitialize() {
  int32_t result = 0;
  RunOnWindowThread([&] { result = UnInitializeNetEx(); });
  return result;
}

std::string WriteSettings(const std::string& body) {
  const std::string path = platform::ReplaceFileName(platform::ExecutablePath(), "Peerbeacon.ini");
  const std::string user = UserSectionName();
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "[" << user << "]\r\n" << body;
  return path;
}

std::vector<uint8_t> RecordFor(uint32_t address_host, uint16_t port) {
  std::vector<uint8_t> record(PB_ENTRY_FIXED_SIZE + 1, 0);
  WriteLe32(record.data(), static_cast<uint32_t>(record.size()));
  WriteLe32(record.data() + 4, PB_RECORD_VERSION);
  WriteLe32(record.data() + 8, PB_ENTRY_KIND);
  WriteLe32(record.data() + 12, 1);
  WriteLe32Signed(record.data() + 20, -1);
  WriteLe32(record.data() + 24, PB_ENTRY_FIXED_SIZE);
  SocketAddress::FromHost(address_host, port).Write(record.data() + 28);
  return record;
}

}  // namespace pb::testing_host
