// entry_command.h: the presence datagram: writing it byte for byte, and the checks a
// receiver runs before it reads anything out of one.
#ifndef PEERBEACON_WIRE_ENTRY_COMMAND_H_
#define PEERBEACON_WIRE_ENTRY_COMMAND_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace pb {

// Byte layout. Every integer is 32-bit little-endian; offsets count from the datagram's start.
inline constexpr size_t kEntryTotalSizeField = 0;
inline constexpr size_t kEntryMagicField = 4;  // "WrenMct" and a NUL, 8 bytes
inline constexpr size_t kEntryVersionField = 12;
inline constexpr size_t kEntryCommandField = 16;
inline constexpr size_t kEntryArgumentField = 20;
inline constexpr size_t kEntryDomainKeyField = 24;
inline constexpr size_t kEntryNicknameOffsetField = 28;
inline constexpr size_t kEntryGroupOffsetField = 32;
inline constexpr size_t kEntryUserOffsetField = 36;
inline constexpr size_t kEntryComputerOffsetField = 40;
// The strings start here; with all four empty the datagram is 48 bytes (four NULs).
inline constexpr uint32_t kEntryStringsOffset = 44;
inline constexpr uint32_t kEntryMinSize = 48;

inline constexpr char kEntryMagic[] = "WrenMct";
inline constexpr uint32_t kEntryVersion = 256;

inline constexpr int32_t kEntryStart = 1;
inline constexpr int32_t kEntryUpdate = 2;
inline constexpr int32_t kEntryExit = 3;

// One written datagram, owned; empty when it could not be allocated.
class EntryCommandBuffer {
 public:
  EntryCommandBuffer() = default;
  EntryCommandBuffer(std::unique_ptr<uint8_t[]> data, size_t size)
      : data_(std::move(data)), size_(data_ ? size : 0) {}
  EntryCommandBuffer(EntryCommandBuffer&&) noexcept = default;
  EntryCommandBuffer& operator=(EntryCommandBuffer&&) noexcept = default;

  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  bool empty() const { return data_ == nullptr; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
};

// Writes an entry command in its wire layout: the four strings (a null pointer counts as
// an empty string) packed from offset 44, each with its NUL, total size 48 + their lengths.
// Never throws: out of memory, or a total beyond 2^31 - 1, gives an empty buffer.
EntryCommandBuffer BuildEntryCommand(int32_t command, int32_t argument, const char* nickname,
                                     const char* group, const char* logon_user,
                                     const char* computer_name, uint32_t domain_key);

// The structural gate, run on every received datagram before anything else reads it. True when:
// data is not null and received >= 48; the total-size field equals received; the nickname,
// user and computer offsets lie inside the datagram and a NUL follows each of them inside it;
// and the group offset, when it will be used (>= 44 unsigned), satisfies the same. A group
// offset below 44 is never read (no groups), so it is not checked further.
// Every accessor below may be used on a datagram that passed, and on nothing else.
bool ValidateEntryCommand(const uint8_t* data, size_t received);

// The reader's checks, in their order, on a validated datagram:
// 1. The magic compared as a NUL-terminated string: exactly "WrenMct" with its NUL at 11.
bool EntryCommandHasMagic(const uint8_t* command);
// 2. The domain key at 24 equals the receiver's own.
bool EntryCommandDomainMatches(const uint8_t* command, uint32_t domain_key);
// 3. The command at 16; only 1, 2 and 3 are acted upon.
int32_t EntryCommandType(const uint8_t* command);
inline bool IsKnownEntryCommand(int32_t command) {
  return command == kEntryStart || command == kEntryUpdate || command == kEntryExit;
}
// 4. The group string, or null when the group offset is below 44 (unsigned): no groups.
const char* EntryCommandGroup(const uint8_t* command);

// All of the above in order: the command (1, 2 or 3) when the datagram is to be acted upon,
// 0 when it is to be dropped (malformed, wrong magic, other domain key, unknown command).
int32_t ClassifyEntryCommand(const uint8_t* data, size_t received, uint32_t domain_key);

// Fields read from a validated datagram (or a stored copy of one).
uint32_t EntryCommandSize(const uint8_t* command);
int32_t EntryCommandArgument(const uint8_t* command);
uint32_t EntryCommandDomainKey(const uint8_t* command);
const char* EntryCommandNickname(const uint8_t* command);
const char* EntryCommandLogonUser(const uint8_t* command);
const char* EntryCommandComputerName(const uint8_t* command);

}  // namespace pb

#endif  // PEERBEACON_WIRE_ENTRY_COMMAND_H_
