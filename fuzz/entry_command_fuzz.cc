// entry_command_fuzz.cc: the receiver's gate and readers of the presence datagram on arbitrary
// bytes: a datagram that passes may be read through every accessor without leaving it.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_input.h"
#include "wire/byte_order.h"
#include "wire/entry_command.h"

namespace {

using pb::fuzz::Input;

// The string the accessor points at must start inside the datagram and end (with its NUL)
// inside it too. An offset into the fixed header is odd but harmless: still inside.
size_t CheckInside(const uint8_t* data, size_t size, const char* text) {
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  PB_FUZZ_CHECK(p >= data && p < data + size);
  const size_t offset = static_cast<size_t>(p - data);
  const void* nul = std::memchr(p, 0, size - offset);
  PB_FUZZ_CHECK(nul != nullptr);
  return static_cast<size_t>(static_cast<const uint8_t*>(nul) - p);
}

}  // namespace

// Input: 4 bytes of the receiver's domain key, then the datagram as received.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint32_t key = in.U32();
  const std::string rest = in.Rest();
  // A block of exactly the received length, so that any read beyond it is reported.
  const size_t n = rest.size();
  std::unique_ptr<uint8_t[]> datagram(new uint8_t[n > 0 ? n : 1]);
  if (n > 0) std::memcpy(datagram.get(), rest.data(), n);
  const uint8_t* d = datagram.get();

  const bool valid = pb::ValidateEntryCommand(d, n);
  const int32_t command = pb::ClassifyEntryCommand(d, n, key);
  PB_FUZZ_CHECK(command == 0 || command == 1 || command == 2 || command == 3);
  if (!valid) {
    PB_FUZZ_CHECK(command == 0);
    return 0;
  }
  PB_FUZZ_CHECK(n >= pb::kEntryMinSize);
  PB_FUZZ_CHECK(pb::EntryCommandSize(d) == n);

  const std::string nickname(pb::EntryCommandNickname(d));
  const std::string user(pb::EntryCommandLogonUser(d));
  const std::string computer(pb::EntryCommandComputerName(d));
  CheckInside(d, n, pb::EntryCommandNickname(d));
  CheckInside(d, n, pb::EntryCommandLogonUser(d));
  CheckInside(d, n, pb::EntryCommandComputerName(d));
  const char* group = pb::EntryCommandGroup(d);
  const uint32_t group_offset = pb::ReadLe32(d + pb::kEntryGroupOffsetField);
  PB_FUZZ_CHECK((group == nullptr) == (group_offset < pb::kEntryStringsOffset));
  if (group != nullptr) CheckInside(d, n, group);

  const bool magic = pb::EntryCommandHasMagic(d);
  const bool domain = pb::EntryCommandDomainMatches(d, key);
  const int32_t type = pb::EntryCommandType(d);
  PB_FUZZ_CHECK(magic == (std::memcmp(d + 4, "WrenMct", 8) == 0));
  PB_FUZZ_CHECK(domain == (pb::EntryCommandDomainKey(d) == key));
  const int32_t expected = magic && domain && pb::IsKnownEntryCommand(type) ? type : 0;
  PB_FUZZ_CHECK(command == expected);

  // What a sender of this system writes from the same fields is accepted and reads back the same.
  const int32_t argument = pb::EntryCommandArgument(d);
  pb::EntryCommandBuffer rebuilt =
      pb::BuildEntryCommand(type, argument, nickname.c_str(), group != nullptr ? group : "",
                            user.c_str(), computer.c_str(), pb::EntryCommandDomainKey(d));
  PB_FUZZ_CHECK(!rebuilt.empty());
  const uint8_t* r = rebuilt.data();
  PB_FUZZ_CHECK(pb::ValidateEntryCommand(r, rebuilt.size()));
  PB_FUZZ_CHECK(pb::EntryCommandHasMagic(r));
  PB_FUZZ_CHECK(pb::ClassifyEntryCommand(r, rebuilt.size(), pb::EntryCommandDomainKey(d)) ==
                (pb::IsKnownEntryCommand(type) ? type : 0));
  PB_FUZZ_CHECK(pb::EntryCommandArgument(r) == argument);
  PB_FUZZ_CHECK(nickname == pb::EntryCommandNickname(r));
  PB_FUZZ_CHECK(user == pb::EntryCommandLogonUser(r));
  PB_FUZZ_CHECK(computer == pb::EntryCommandComputerName(r));
  PB_FUZZ_CHECK(std::string(group != nullptr ? group : "") == pb::EntryCommandGroup(r));
  return 0;
}
