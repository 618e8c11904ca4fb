// entry_command.cc: writing and checking the entry command datagram.
#include "wire/entry_command.h"

#include <cstring>
#include <new>

#include "wire/byte_order.h"

namespace pb {
namespace {

constexpr uint64_t kMaxTotal = 0x7FFFFFFF;

size_t Length(const char* text) { return text == nullptr ? 0 : std::strlen(text); }

// Copies text with its NUL to data + offset; returns the offset just past the NUL.
uint32_t PutString(uint8_t* data, uint32_t offset, const char* text, size_t length) {
  if (length > 0) std::memcpy(data + offset, text, length);
  data[offset + length] = 0;
  return offset + static_cast<uint32_t>(length) + 1;
}

// True when offset lies inside the received bytes and a NUL ends the string before their end.
bool StringInside(const uint8_t* data, size_t received, uint32_t offset) {
  if (offset >= received) return false;
  return std::memchr(data + offset, 0, received - offset) != nullptr;
}

const char* StringAt(const uint8_t* command, size_t field) {
  return reinterpret_cast<const char*>(command + ReadLe32(command + field));
}

}  // namespace

EntryCommandBuffer BuildEntryCommand(int32_t command, int32_t argument, const char* nickname,
                                     const char* group, const char* logon_user,
                                     const char* computer_name, uint32_t domain_key) {
  const size_t l1 = Length(nickname);
  const size_t l2 = Length(group);
  const size_t l3 = Length(logon_user);
  const size_t l4 = Length(computer_name);
  const uint64_t total64 = static_cast<uint64_t>(l1) + l2 + l3 + l4 + kEntryMinSize;
  if (total64 > kMaxTotal) return {};
  const uint32_t total = static_cast<uint32_t>(total64);

  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[total]);
  if (!data) return {};
  uint8_t* d = data.get();

  const uint32_t nickname_offset = kEntryStringsOffset;
  const uint32_t group_offset = PutString(d, nickname_offset, nickname, l1);
  const uint32_t user_offset = PutString(d, group_offset, group, l2);
  const uint32_t computer_offset = PutString(d, user_offset, logon_user, l3);
  PutString(d, computer_offset, computer_name, l4);  // ends exactly at total

  WriteLe32(d + kEntryTotalSizeField, total);
  std::memcpy(d + kEntryMagicField, kEntryMagic, sizeof kEntryMagic);
  WriteLe32(d + kEntryVersionField, kEntryVersion);
  WriteLe32Signed(d + kEntryCommandField, command);
  WriteLe32Signed(d + kEntryArgumentField, argument);
  WriteLe32(d + kEntryDomainKeyField, domain_key);
  WriteLe32(d + kEntryNicknameOffsetField, nickname_offset);
  WriteLe32(d + kEntryGroupOffsetField, group_offset);
  WriteLe32(d + kEntryUserOffsetField, user_offset);
  WriteLe32(d + kEntryComputerOffsetField, computer_offset);
  return EntryCommandBuffer(std::move(data), total);
}

bool ValidateEntryCommand(const uint8_t* data, size_t received) {
  if (data == nullptr || received < kEntryMinSize) return false;
  // Compared in 64 bits so that a received length above 2^32 - 1 can never match.
  if (static_cast<uint64_t>(ReadLe32(data + kEntryTotalSizeField)) !=
      static_cast<uint64_t>(received)) {
    return false;
  }
  if (!StringInside(data, received, ReadLe32(data + kEntryNicknameOffsetField))) return false;
  const uint32_t group_offset = ReadLe32(data + kEntryGroupOffsetField);
  if (group_offset >= kEntryStringsOffset && !StringInside(data, received, group_offset)) {
    return false;
  }
  if (!StringInside(data, received, ReadLe32(data + kEntryUserOffsetField))) return false;
  if (!StringInside(data, received, ReadLe32(data + kEntryComputerOffsetField))) return false;
  return true;
}

bool EntryCommandHasMagic(const uint8_t* command) {
  // The 8 bytes include the NUL, so this is the whole-string comparison: "WrenMct" followed by
  // anything but a NUL at offset 11 differs.
  return std::memcmp(command + kEntryMagicField, kEntryMagic, sizeof kEntryMagic) == 0;
}

bool EntryCommandDomainMatches(const uint8_t* command, uint32_t domain_key) {
  return ReadLe32(command + kEntryDomainKeyField) == domain_key;
}

int32_t EntryCommandType(const uint8_t* command) {
  return ReadLe32Signed(command + kEntryCommandField);
}

const char* EntryCommandGroup(const uint8_t* command) {
  if (ReadLe32(command + kEntryGroupOffsetField) < kEntryStringsOffset) return nullptr;
  return StringAt(command, kEntryGroupOffsetField);
}

int32_t ClassifyEntryCommand(const uint8_t* data, size_t received, uint32_t domain_key) {
  if (!ValidateEntryCommand(data, received)) return 0;
  if (!EntryCommandHasMagic(data)) return 0;
  if (!EntryCommandDomainMatches(data, domain_key)) return 0;
  const int32_t command = EntryCommandType(data);
  return IsKnownEntryCommand(command) ? command : 0;
}

uint32_t EntryCommandSize(const uint8_t* command) {
  return ReadLe32(command + kEntryTotalSizeField);
}

int32_t EntryCommandArgument(const uint8_t* command) {
  return ReadLe32Signed(command + kEntryArgumentField);
}

uint32_t EntryCommandDomainKey(const uint8_t* command) {
  return ReadLe32(command + kEntryDomainKeyField);
}

const char* EntryCommandNickname(const uint8_t* command) {
  return StringAt(command, kEntryNicknameOffsetField);
}

const char* EntryCommandLogonUser(const uint8_t* command) {
  return StringAt(command, kEntryUserOffsetField);
}

const char* EntryCommandComputerName(const uint8_t* command) {
  return StringAt(command, kEntryComputerOffsetField);
}

}  // namespace pb
