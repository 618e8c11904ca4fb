// session.h: what every host command works on, and the shape of a command's result.
#ifndef PEERBEACON_HOST_SESSION_H_
#define PEERBEACON_HOST_SESSION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_window.h"
#include "host/output.h"
#include "host/plugin_api.h"

namespace pbhost {

struct Session {
  const PluginApi& api;
  WindowThread& window;
  Output& out;
  // StartEntry or StartEntryEx succeeded and no ExitEntry followed: the host says goodbye
  // with ExitEntry before it stops the plug-in.
  bool announced = false;
  // The destination typed into the direct-input dialog, as the record InputEntry made; the
  // send commands take it as the target "typed".
  std::vector<uint8_t> typed_record = {};
};

struct CommandResult {
  bool ok = true;
  std::string error;  // why the command failed
  bool quit = false;  // end the session after this command
};

inline CommandResult Ok() { return {}; }
inline CommandResult Failed(std::string why) { return {false, std::move(why), false}; }

using CommandArgs = std::vector<std::string>;

}  // namespace pbhost

#endif  // PEERBEACON_HOST_SESSION_H_
