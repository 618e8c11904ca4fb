// lifecycle.cc: plug-in start-up and shutdown for the reference host.
#include "host/lifecycle.h"

#include <algorithm>
#include <cstring>

#include "host/commands.h"
#include "host/memo_receiver.h"
#include "host/text_escape.h"

namespace pbhost {
namespace {

void Describe(Session& session) {
  if (session.api.NetExSpecification == nullptr) return;
  // The plug-in writes its fixed bytes into a buffer of the host's; a generous one leaves
  // room for whatever a plug-in of this family writes.
  uint8_t buffer[256] = {};
  if (session.api.NetExSpecification(buffer) != 1) {
    session.out.Warn("NetExSpecification did not return 1");
    return;
  }
  SpecificationRecord description;
  std::memcpy(&description, buffer, sizeof description);
  const char* begin = description.display_name;
  const char* end = begin + sizeof description.display_name;
  const std::string name(begin, std::find(begin, end, '\0'));
  session.out.Machine(
      "DESCRIBED name=\"" + EscapeMachine(name) +
      "\" values=" + std::to_string(description.value0) + "," + std::to_string(description.value1) +
      "," + std::to_string(description.value2) + "," + std::to_string(description.value3));
  session.out.Human("plug-in: " + EscapeHuman(name));
}

}  // namespace

bool StartPlugin(Session& session, const std::string& text, bool announce) {
  Describe(session);
  int32_t result = 0;
  PB_HWND window = session.window.window();
  session.window.Run(
      [&] { result = session.api.InitializeNetEx(window, text.c_str(), &ReceiveMemo); });
  session.out.Machine("INIT " + std::to_string(result));
  if (result != 1) {
    session.out.Warn("InitializeNetEx returned " + std::to_string(result));
    return false;
  }
  if (session.api.Has("GetNxlStatus")) RunStatus(session, {});
  if (announce) {
    if (session.api.Has("StartEntry")) {
      if (!RunStart(session, {}).ok) session.out.Warn("StartEntry did not announce");
    } else {
      session.out.Warn("not announcing: the plug-in does not export StartEntry");
    }
  }
  return true;
}

void StopPlugin(Session& session) {
  if (session.announced && session.api.Has("ExitEntry")) RunLeave(session, {});
  int32_t result = 0;
  session.window.Run([&] { result = session.api.UnInitializeNetEx(); });
  session.out.Machine("UNINIT " + std::to_string(result));
}

}  // namespace pbhost
