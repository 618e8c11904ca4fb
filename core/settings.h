// settings.h: reading Peerbeacon.ini into the plug-in state at start-up.
#ifndef PEERBEACON_CORE_SETTINGS_H_
#define PEERBEACON_CORE_SETTINGS_H_

#include <cstdint>
#include <string>

namespace pb {

inline constexpr char kSettingsFileName[] = "Peerbeacon.ini";
inline constexpr char kAnonymous[] = "Anonymous";
inline constexpr char kDefaultGroupAddress[] = "239.191.38.82";
inline constexpr int32_t kDefaultPort = 7129;
inline constexpr int32_t kDefaultTtl = 15;

enum class SettingsResult {
  kOk,
  kBadGroupAddress,  // the file's McstAddr is no multicast address: start-up fails
  kOutOfMemory,
};

// The values start-up takes from the settings file, before they go into the state.
struct Settings {
  uint32_t port = 0;  // network order in the low 16 bits
  uint32_t groupAddress = 0;
  uint32_t interfaceAddress = 0;
  int32_t ttl = 0;
  std::string nickname;
  std::string group;
  uint32_t domainKey = 0;
  int32_t seedType = 0;
  int32_t checkFrom = 0;
};

// The name of the logon user's section, in the settings file and the host-side file that
// points to the node list: the logon user name, "Anonymous" when it cannot be read.
std::string UserSectionName();

// Reads the user's section of the settings file at path; an empty path means no file was
// found and gives the built-in values. logon_user is the section name and the nickname's
// default.
SettingsResult ReadSettings(const std::string& path, const std::string& logon_user,
                            Settings* settings);

// Finds the settings file with the platform's search for a bare file name; empty when none.
std::string FindSettingsFile();

// True when a network-order address lies in 224.0.0.0 to 239.255.255.255.
bool IsMulticastAddress(uint32_t address);

// Converts a host-order port to the network-order value held in the state.
uint32_t PortToNetwork(uint32_t port);

}  // namespace pb

#endif  // PEERBEACON_CORE_SETTINGS_H_
