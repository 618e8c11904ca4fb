// presence_datagram_fuzz.cc: received presence datagrams from several sources through the
// receiver's handling into the entry list and the peer-group table, read back the way the host
// reads them. Start commands are never answered: each datagram's source is made the receiver's
// own address, so nothing is sent.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/plugin_state.h"
#include "fuzz/fuzz_input.h"
#include "hostview/host_interface.h"
#include "net/socket.h"
#include "services/presence_receiver.h"
#include "store/entry_list.h"
#include "store/group_table.h"
#include "store/instance.h"
#include "wire/byte_order.h"
#include "wire/entry_command.h"

namespace {

using pb::fuzz::CanaryBuffer;
using pb::fuzz::Input;

constexpr uint32_t kFixedDomainKey = 0x00010002;
constexpr uint16_t kPortNetwork = 0xD91B;  // 7129 in network order

// What the list should hold for one peer, in list order.
struct Expected {
  uint32_t ipv4;
  std::string nickname;
  int32_t status;
  int32_t group_count;
};

// One instance for the whole run, shown by the record as a running start shows it.
pb::Instance* SetUpState() {
  pb::PluginState& s = pb::g_stOrgData;
  std::shared_ptr<pb::Instance> instance = pb::CurrentInstance();
  if (!instance) {
    instance = pb::Instance::Create();
    PB_FUZZ_CHECK(instance != nullptr);
    instance->settings.checkFrom = 0;  // the access list is never read
    instance->settings.seedType = -1;  // no node list: the host sees the peers' own names
    instance->settings.port = kPortNetwork;
    instance->AttachView(&s);
    pb::SetCurrentInstance(instance);
    s.initialized.store(1);
  }
  s.entryList->Clear();
  s.peerGroups->Clear();
  return instance.get();
}

void CheckDisplayName(const char* name, const Expected& e) {
  const uint8_t* a = reinterpret_cast<const uint8_t*>(&e.ipv4);
  const std::string expected = e.nickname + " (" + std::to_string(a[0]) + "." +
                               std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
                               std::to_string(a[3]) + ")";
  PB_FUZZ_CHECK(expected == name);
}

void ReadBack(const std::vector<Expected>& expected) {
  PB_FUZZ_CHECK(pb::HostLockEntryList() == 1);
  const int32_t count = pb::HostGetEntryCount();
  PB_FUZZ_CHECK(count == static_cast<int32_t>(expected.size()));
  PB_FUZZ_CHECK(pb::HostGetEntryData(count, nullptr, 0) == -1);
  PB_FUZZ_CHECK(pb::HostGetEntryData(-1, nullptr, 0) == -1);
  const int32_t groups = pb::HostGetGroupCount();
  PB_FUZZ_CHECK(groups == pb::g_stOrgData.peerGroups->Count());

  for (int32_t i = 0; i < count; ++i) {
    const Expected& e = expected[static_cast<size_t>(i)];
    const int32_t size = pb::HostGetEntryData(i, nullptr, 0);
    PB_FUZZ_CHECK(size >= 45 + 18);
    // One byte short: nothing may be written.
    CanaryBuffer short_buffer(static_cast<size_t>(size) - 1);
    PB_FUZZ_CHECK(pb::HostGetEntryData(i, short_buffer.data(), size - 1) == size);
    PB_FUZZ_CHECK(short_buffer.Untouched());

    CanaryBuffer record(static_cast<size_t>(size));
    PB_FUZZ_CHECK(pb::HostGetEntryData(i, record.data(), size) == size);
    PB_FUZZ_CHECK(record.CanaryIntact());
    const uint8_t* r = record.data();
    PB_FUZZ_CHECK(pb::ReadLe32Signed(r + 0) == size);
    PB_FUZZ_CHECK(pb::ReadLe32Signed(r + 4) == 256);
    PB_FUZZ_CHECK(pb::ReadLe32Signed(r + 8) == 2);
    PB_FUZZ_CHECK(pb::ReadLe32Signed(r + 12) == e.status);
    const int32_t group_count = pb::ReadLe32Signed(r + 16);
    const int32_t ids_offset = pb::ReadLe32Signed(r + 20);
    PB_FUZZ_CHECK(pb::ReadLe32Signed(r + 24) == 44);
    PB_FUZZ_CHECK(group_count == e.group_count);
    const int32_t bound = static_cast<int32_t>(e.nickname.size()) + 18;
    PB_FUZZ_CHECK(size == 45 + bound + 4 * group_count);
    PB_FUZZ_CHECK(group_count > 0 ? ids_offset == 45 + bound : ids_offset == -1);
    uint32_t ipv4;
    std::memcpy(&ipv4, r + 32, 4);
    PB_FUZZ_CHECK(ipv4 == e.ipv4);
    PB_FUZZ_CHECK(pb::ReadLe16(r + 28) == 2);
    const void* nul = std::memchr(r + 44, 0, static_cast<size_t>(bound) + 1);
    PB_FUZZ_CHECK(nul != nullptr);
    CheckDisplayName(reinterpret_cast<const char*>(r + 44), e);
    for (int32_t g = 0; g < group_count; ++g) {
      const int32_t id = pb::ReadLe32Signed(r + ids_offset + 4 * g);
      PB_FUZZ_CHECK(id >= 0 && id < groups);
    }

    char info[pb::kEntryInfoSize + 16];
    const int32_t written = pb::HostGetEntryInfo(info, pb::kEntryInfoSize, r, size);
    PB_FUZZ_CHECK(written > 0 && written < pb::kEntryInfoSize);
    PB_FUZZ_CHECK(std::strlen(info) == static_cast<size_t>(written));
    PB_FUZZ_CHECK(pb::HostCompareEntryData(r, size, r, size) == 1);
  }

  for (int32_t g = 0; g < groups; ++g) {
    const int32_t size = pb::HostGetGroupData(g, nullptr, 0);
    PB_FUZZ_CHECK(size >= 21);
    CanaryBuffer record(static_cast<size_t>(size));
    PB_FUZZ_CHECK(pb::HostGetGroupData(g, record.data(), size) == size);
    PB_FUZZ_CHECK(record.CanaryIntact());
    const uint8_t* r = record.data();
    PB_FUZZ_CHECK(pb::ReadLe32Signed(r) == size);
    const int32_t parent = pb::ReadLe32Signed(r + 8);
    PB_FUZZ_CHECK(parent >= -1 && parent < g);
    PB_FUZZ_CHECK(pb::ReadLe32Signed(r + 16) == 20);
    PB_FUZZ_CHECK(std::strlen(reinterpret_cast<const char*>(r + 20)) ==
                  static_cast<size_t>(size) - 21);
  }
  PB_FUZZ_CHECK(pb::HostGetGroupData(groups, nullptr, 0) == -1);
  PB_FUZZ_CHECK(pb::HostUnlockEntryList() == 1);
}

}  // namespace

// Input: one flag byte (bit 0: the receiver's domain key is the fixed non-zero one, else 0),
// then datagrams, each as: the last byte of its source address 10.0.0.x, a 16-bit length, and
// that many bytes as received.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pb::Instance* instance = SetUpState();
  pb::PluginState& s = pb::g_stOrgData;
  Input in(data, size);
  s.domainKey = (in.Byte() & 1) != 0 ? kFixedDomainKey : 0;
  instance->settings.domainKey = s.domainKey;

  std::vector<Expected> expected;
  int datagrams = 0;
  while (!in.empty() && datagrams++ < 32) {
    const uint8_t host = in.Byte();
    const size_t length = in.U16();
    const std::string bytes = in.Bytes(length);
    // The receive buffer is exactly what arrived, so a read beyond it is reported.
    std::vector<uint8_t> received(bytes.begin(), bytes.end());
    received.shrink_to_fit();
    const uint8_t ip[4] = {10, 0, 0, host};
    uint32_t ipv4;
    std::memcpy(&ipv4, ip, 4);
    // The receiver's own address: a start from it is stored but never answered.
    s.interfaceAddress.store(ipv4);
    const pb::SocketAddress source = pb::SocketAddress::FromNetwork(ipv4, kPortNetwork);
    PB_FUZZ_CHECK(pb::HandleEntryDatagram(received.empty() ? nullptr : received.data(),
                                          received.size(), source));

    // What the list must look like afterwards.
    const int32_t command = pb::ClassifyEntryCommand(received.empty() ? nullptr : received.data(),
                                                     received.size(), s.domainKey);
    auto at = expected.begin();
    while (at != expected.end() && at->ipv4 != ipv4) ++at;
    if (command == pb::kEntryExit) {
      if (at != expected.end()) expected.erase(at);
    } else if (command != 0) {
      const uint8_t* d = received.data();
      const char* group_text = pb::EntryCommandGroup(d);
      Expected e{ipv4, pb::EntryCommandNickname(d), pb::EntryCommandArgument(d) != 0 ? 2 : 1,
                 group_text != nullptr ? pb::GroupTable::CountGroups(group_text) : 0};
      if (at != expected.end()) {
        *at = e;
      } else {
        expected.push_back(e);
      }
    }
  }
  ReadBack(expected);
  return 0;
}
