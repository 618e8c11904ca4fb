// host_record_fuzz.cc: the entry and group records the host reads, built from fuzzed peers, an
// optional fuzzed node-list file and fuzzed buffer sizes: a buffer is written only when it is
// large enough, and never beyond the record's own size.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/plugin_state.h"
#include "fuzz/fuzz_input.h"
#include "hostview/host_interface.h"
#include "net/socket.h"
#include "store/entry_list.h"
#include "store/group_table.h"
#include "wire/byte_order.h"
#include "wire/entry_command.h"

namespace {

using pb::fuzz::CanaryBuffer;
using pb::fuzz::Input;

pb::fuzz::ScratchDir* g_scratch = nullptr;

void SetUpState() {
  pb::PluginState& s = pb::g_stOrgData;
  if (s.entryList == nullptr) {
    g_scratch = new pb::fuzz::ScratchDir();
    s.entryList = pb::EntryList::Create();
    s.peerGroups = new pb::GroupTable();
    s.stopEvent = pb::platform::CreateEventObject(/*manual_reset=*/true, /*initially_set=*/false);
    PB_FUZZ_CHECK(s.entryList != nullptr && s.stopEvent != nullptr);
    s.initialized.store(1);
    // The system directory is never searched before the Windows directory, which holds the
    // node-list file of each input; neither may be the machine's own.
    pb::fuzz::SetEnv("PEERBEACON_SYSTEM_DIR", g_scratch->root().string());
  }
  s.entryList->Clear();
  s.peerGroups->Clear();
}

// A size to try for a record of size needed: below it, exactly it, or above it.
int32_t TrySize(Input& in, int32_t needed) {
  const uint8_t pick = in.Byte();
  switch (pick % 4) {
    case 0:
      return needed;
    case 1:
      return needed - 1 - pick / 4 % 8;
    case 2:
      return needed + pick / 4 % 16;
    default:
      return pick / 4;
  }
}

void CheckEntryRecords(Input& in) {
  const int32_t count = pb::HostGetEntryCount();
  const int32_t groups = pb::HostGetGroupCount();
  for (int32_t i = 0; i < count; ++i) {
    const int32_t needed = pb::HostGetEntryData(i, nullptr, 0);
    PB_FUZZ_CHECK(needed >= 45 + 18);
    const int32_t size = TrySize(in, needed);
    CanaryBuffer buffer(size > 0 ? static_cast<size_t>(size) : 0);
    PB_FUZZ_CHECK(pb::HostGetEntryData(i, buffer.data(), size) == needed);
    if (size < needed) {
      PB_FUZZ_CHECK(buffer.Untouched());
      continue;
    }
    PB_FUZZ_CHECK(buffer.CanaryIntact());
    const uint8_t* r = buffer.data();
    for (int32_t b = needed; b < size; ++b) PB_FUZZ_CHECK(r[b] == CanaryBuffer::kFill);
    PB_FUZZ_CHECK(pb::ReadLe32Signed(r) == needed);
    const int32_t group_count = pb::ReadLe32Signed(r + 16);
    const int32_t ids_offset = pb::ReadLe32Signed(r + 20);
    PB_FUZZ_CHECK(group_count >= 0);
    const int32_t bound = needed - 45 - 4 * group_count;
    PB_FUZZ_CHECK(bound >= 18);
    PB_FUZZ_CHECK(group_count > 0 ? ids_offset == 45 + bound : ids_offset == -1);
    PB_FUZZ_CHECK(std::memchr(r + 44, 0, static_cast<size_t>(bound) + 1) != nullptr);
    for (int32_t g = 0; g < group_count; ++g) {
      const int32_t id = pb::ReadLe32Signed(r + ids_offset + 4 * g);
      PB_FUZZ_CHECK(id >= 0 && id < groups);
    }
    // The host's text about the peer, in buffers of every interesting length.
    const int32_t length = static_cast<int32_t>(in.U16() % 400);
    CanaryBuffer text(static_cast<size_t>(length));
    const int32_t written =
        pb::HostGetEntryInfo(reinterpret_cast<char*>(text.data()), length, r, needed);
    if (length < pb::kEntryInfoSize) {
      PB_FUZZ_CHECK(written == pb::kEntryInfoSize);
      PB_FUZZ_CHECK(text.Untouched());
    } else {
      PB_FUZZ_CHECK(written > 0 && written < length);
      PB_FUZZ_CHECK(std::strlen(reinterpret_cast<const char*>(text.data())) ==
                    static_cast<size_t>(written));
      PB_FUZZ_CHECK(text.CanaryIntact());
    }
    // The memo receiver's record of the same peer.
    const int32_t listed = pb::BuildListedEntryRecord(*pb::g_stOrgData.entryList, i, nullptr, 0);
    PB_FUZZ_CHECK(listed >= 45 + 18);
    const int32_t listed_size = TrySize(in, listed);
    CanaryBuffer listed_buffer(listed_size > 0 ? static_cast<size_t>(listed_size) : 0);
    PB_FUZZ_CHECK(pb::BuildListedEntryRecord(*pb::g_stOrgData.entryList, i, listed_buffer.data(),
                                             listed_buffer.size()) == listed);
    if (listed_size < listed) {
      PB_FUZZ_CHECK(listed_buffer.Untouched());
    } else {
      PB_FUZZ_CHECK(listed_buffer.CanaryIntact());
      for (int32_t b = listed; b < listed_size; ++b) {
        PB_FUZZ_CHECK(listed_buffer.data()[b] == CanaryBuffer::kFill);
      }
      PB_FUZZ_CHECK(pb::HostCompareEntryData(r, needed, listed_buffer.data(), listed) == 1);
    }
  }
}

void CheckGroupRecords(Input& in) {
  const int32_t groups = pb::HostGetGroupCount();
  PB_FUZZ_CHECK(pb::HostGetGroupData(groups, nullptr, 0) == -1);
  for (int32_t g = 0; g < groups; ++g) {
    const int32_t needed = pb::HostGetGroupData(g, nullptr, 0);
    PB_FUZZ_CHECK(needed >= 21);
    const int32_t size = TrySize(in, needed);
    CanaryBuffer buffer(size > 0 ? static_cast<size_t>(size) : 0);
    PB_FUZZ_CHECK(pb::HostGetGroupData(g, buffer.data(), size) == needed);
    if (size < needed) {
      PB_FUZZ_CHECK(buffer.Untouched());
      continue;
    }
    PB_FUZZ_CHECK(buffer.CanaryIntact());
    const uint8_t* r = buffer.data();
    for (int32_t b = needed; b < size; ++b) PB_FUZZ_CHECK(r[b] == CanaryBuffer::kFill);
    const int32_t parent = pb::ReadLe32Signed(r + 8);
    PB_FUZZ_CHECK(parent >= -1 && parent < groups && parent != g);
    PB_FUZZ_CHECK(std::strlen(reinterpret_cast<const char*>(r + 20)) ==
                  static_cast<size_t>(needed) - 21);
  }
}

// Records the host made up itself: arbitrary bytes of an arbitrary (claimed) size.
void CheckForeignRecords(Input& in) {
  const std::string a = in.ShortString();
  const std::string b = in.ShortString();
  // Blocks of exactly the claimed size: the functions may read no further.
  std::vector<uint8_t> ra(a.begin(), a.end()), rb(b.begin(), b.end());
  ra.shrink_to_fit();
  rb.shrink_to_fit();
  const int32_t result = pb::HostCompareEntryData(ra.data(), static_cast<int32_t>(ra.size()),
                                                  rb.data(), static_cast<int32_t>(rb.size()));
  PB_FUZZ_CHECK(result == 0 || result == 1);
  if (result == 1) PB_FUZZ_CHECK(ra.size() >= 44 && rb.size() >= 44);
  char text[pb::kEntryInfoSize];
  const int32_t info =
      pb::HostGetEntryInfo(text, sizeof text, ra.data(), static_cast<int32_t>(ra.size()));
  PB_FUZZ_CHECK(info >= 0 && info < pb::kEntryInfoSize);
  if (ra.size() < 44) PB_FUZZ_CHECK(info == 0);

  // The direct-input and memo records: a name field of any size in a buffer of any size.
  const std::string name = pb::fuzz::CString(in.ShortString());
  const size_t field = in.Byte();
  // Around the record's size, where an off-by-one would show.
  const int32_t tried = TrySize(in, static_cast<int32_t>(44 + field));
  const size_t capacity = tried > 0 ? static_cast<size_t>(tried) : 0;
  CanaryBuffer record(capacity);
  uint8_t address[16] = {2, 0, 0x1B, 0xD9, 10, 0, 0, 1};
  const int32_t size = pb::BuildEntryRecord(record.data(), capacity, address, name.c_str(), field);
  if (field == 0) {
    PB_FUZZ_CHECK(size == 0);
    PB_FUZZ_CHECK(record.Untouched());
    return;
  }
  PB_FUZZ_CHECK(size == static_cast<int32_t>(44 + field));
  if (capacity < static_cast<size_t>(size)) {
    PB_FUZZ_CHECK(record.Untouched());
    return;
  }
  PB_FUZZ_CHECK(record.CanaryIntact());
  const char* written = reinterpret_cast<const char*>(record.data() + 44);
  PB_FUZZ_CHECK(std::memchr(written, 0, field) != nullptr);
  PB_FUZZ_CHECK(name.compare(0, std::strlen(written), written) == 0);
  PB_FUZZ_CHECK(std::strlen(written) == (name.size() < field ? name.size() : field - 1));
}

}  // namespace

// Input: a flag byte (bits 0-2: SeedType 0..3, or the node list off; bit 3: a node-list file is
// written), the number of peers (0..7), each peer as its address byte, absence byte and four
// short strings (nickname, group string, user, computer), then the node-list file as a short
// string of up to 1023 bytes (16-bit length), then the choices of buffer sizes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetUpState();
  pb::PluginState& s = pb::g_stOrgData;
  Input in(data, size);
  const uint8_t flags = in.Byte();
  s.seedType = (flags & 7) <= 3 ? (flags & 7) : -1;
  const int peers = in.Byte() % 8;
  for (int p = 0; p < peers; ++p) {
    const uint8_t host = in.Byte();
    const int32_t absence = in.Byte() % 3;
    const std::string nickname = pb::fuzz::CString(in.ShortString());
    const std::string group = pb::fuzz::CString(in.ShortString());
    const std::string user = pb::fuzz::CString(in.ShortString());
    const std::string computer = pb::fuzz::CString(in.ShortString());
    pb::EntryCommandBuffer command =
        pb::BuildEntryCommand(pb::kEntryUpdate, absence, nickname.c_str(), group.c_str(),
                              user.c_str(), computer.c_str(), 0);
    PB_FUZZ_CHECK(!command.empty());
    const int32_t n = pb::GroupTable::CountGroups(group.c_str());
    std::vector<int32_t> ids(static_cast<size_t>(n) + 1);
    s.peerGroups->ParseGroups(group.c_str(), ids.data(), n);
    const uint8_t ip[4] = {10, 0, 0, host};
    uint32_t ipv4;
    std::memcpy(&ipv4, ip, 4);
    uint8_t address[16];
    pb::SocketAddress::FromNetwork(ipv4, 0xD91B).Write(address);
    PB_FUZZ_CHECK(s.entryList->Upsert(address, command.data(), ids.data(), n) == 1);
  }
  const size_t file_length = in.U16() % 1024;
  const std::string node_list = in.Bytes(file_length);
  const std::string dir = g_scratch->NextDir();
  if ((flags & 8) != 0) pb::fuzz::WriteFileBytes(dir + "/NodeList.ini", node_list);
  pb::fuzz::SetEnv("PEERBEACON_WINDOWS_DIR", dir);

  PB_FUZZ_CHECK(pb::HostLockEntryList() == 1);
  PB_FUZZ_CHECK((s.nodeListGroups != nullptr) == (s.seedType >= 0 && s.seedType <= 3));
  if ((flags & 8) == 0 && s.nodeListGroups != nullptr) {
    PB_FUZZ_CHECK(s.nodeListGroups->Count() == 0);
  }
  CheckEntryRecords(in);
  CheckGroupRecords(in);
  PB_FUZZ_CHECK(pb::HostUnlockEntryList() == 1);
  PB_FUZZ_CHECK(pb::HostGetGroupCount() == s.peerGroups->Count());
  CheckForeignRecords(in);
  return 0;
}
