// settings.cc: the settings file's keys, their defaults and the values derived from them.
#include "core/settings.h"

#include <vector>

#include "core/plugin_state.h"
#include "platform/platform.h"

namespace pb {
namespace {

// Text values are read into a buffer of this size, terminator included.
constexpr uint32_t kTextBuffer = 2048;

std::string ReadText(const std::string& path, const char* section, const char* key,
                     const char* default_value) {
  std::vector<char> buffer(kTextBuffer);
  platform::GetProfileString(section, key, default_value, buffer.data(), kTextBuffer, path.c_str());
  return std::string(buffer.data());
}

}  // namespace

bool IsMulticastAddress(uint32_t address) {
  const unsigned first = reinterpret_cast<const unsigned char*>(&address)[0];
  return first >= 224 && first <= 239;
}

uint32_t PortToNetwork(uint32_t port) {
  const uint16_t p = static_cast<uint16_t>(port);
  uint16_t net = 0;
  auto* bytes = reinterpret_cast<unsigned char*>(&net);
  bytes[0] = static_cast<unsigned char>(p >> 8);
  bytes[1] = static_cast<unsigned char>(p);
  return net;
}

std::string FindSettingsFile() {
  std::string path;
  return platform::OpenFileSearch(kSettingsFileName, &path) ? path : std::string();
}

SettingsResult ReadSettings(const std::string& path, const std::string& logon_user, Settings* s) {
  if (path.empty()) {
    s->port = PortToNetwork(kDefaultPort);
    s->groupAddress = platform::ParseDottedAddress(kDefaultGroupAddress);
    s->interfaceAddress = 0;
    s->ttl = kDefaultTtl;
    s->nickname = logon_user;
    s->group = kAnonymous;
    s->domainKey = 0;
    s->seedType = 0;
    s->checkFrom = 0;
    return SettingsResult::kOk;
  }
  const char* section = logon_user.c_str();
  const char* file = path.c_str();
  s->port = PortToNetwork(
      static_cast<uint32_t>(platform::GetProfileInt(section, "McstPort", kDefaultPort, file)));
  s->groupAddress = platform::ParseDottedAddress(
      ReadText(path, section, "McstAddr", kDefaultGroupAddress).c_str());
  if (!IsMulticastAddress(s->groupAddress)) return SettingsResult::kBadGroupAddress;
  // An unparsable interface address stays the parser's failure value, as read.
  s->interfaceAddress =
      platform::ParseDottedAddress(ReadText(path, section, "McstIF", "0.0.0.0").c_str());
  s->ttl = platform::GetProfileInt(section, "McstTTL", kDefaultTtl, file);
  s->nickname = ReadText(path, section, "Nickname", section);
  s->group = ReadText(path, section, "Group", kAnonymous);
  const uint32_t high =
      static_cast<uint32_t>(platform::GetProfileInt(section, "DomainKeyUw", 0, file));
  const uint32_t low =
      static_cast<uint32_t>(platform::GetProfileInt(section, "DomainKeyLw", 0, file));
  s->domainKey = ((high & 0xFFFFu) << 16) | (low & 0xFFFFu);
  s->seedType = platform::GetProfileInt(section, "SeedType", 0, file);
  s->checkFrom = platform::GetProfileInt(section, "CheckFrom", 0, file) != 0 ? 1 : 0;
  return SettingsResult::kOk;
}

std::string UserSectionName() {
  std::string name;
  if (!platform::LogonUserName(&name) || name.empty()) name = kAnonymous;
  return name;
}

}  // namespace pb
