// presence_commands.cc: announcing, absence, leaving, and the plug-in's status.
#include <charconv>

#include "host/commands.h"

namespace pbhost {
namespace {

// Presence calls answer 1 when the plug-in ran them and 0 when it is not initialised.
CommandResult Report(Session& session, const char* name, int32_t result) {
  session.out.Machine(std::string("CALL ") + name + " " + std::to_string(result));
  session.out.Human(std::string(name) + " returned " + std::to_string(result));
  return result == 1 ? Ok() : Failed(std::string(name) + " returned " + std::to_string(result));
}

}  // namespace

bool ParseInt32(const std::string& text, int32_t* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end && !text.empty();
}

CommandResult RunStart(Session& session, const CommandArgs& /*args*/) {
  CommandResult result = Report(session, "StartEntry", session.api.StartEntry());
  if (result.ok) session.announced = true;
  return result;
}

CommandResult RunStartEx(Session& session, const CommandArgs& args) {
  int32_t absence = 0;
  if (!ParseInt32(args[0], &absence)) return Failed("bad absence value " + args[0]);
  CommandResult result = Report(session, "StartEntryEx", session.api.StartEntryEx(absence));
  if (result.ok) session.announced = true;
  return result;
}

CommandResult RunAbsence(Session& session, const CommandArgs& args) {
  int32_t absence = 0;
  if (!ParseInt32(args[0], &absence)) return Failed("bad absence value " + args[0]);
  return Report(session, "AbsenceEntry", session.api.AbsenceEntry(absence));
}

CommandResult RunLeave(Session& session, const CommandArgs& /*args*/) {
  CommandResult result = Report(session, "ExitEntry", session.api.ExitEntry());
  if (result.ok) session.announced = false;
  return result;
}

CommandResult RunStatus(Session& session, const CommandArgs& /*args*/) {
  const int32_t status = session.api.GetNxlStatus();
  const bool running = (status & PB_STATUS_RUNNING) != 0;
  const bool listening = (status & PB_STATUS_LISTENING) != 0;
  const bool presence = (status & PB_STATUS_PRESENCE) != 0;
  session.out.Machine("STATUS " + std::to_string(status) + " running=" + std::to_string(running) +
                      " listening=" + std::to_string(listening) +
                      " presence=" + std::to_string(presence));
  session.out.Human("status " + std::to_string(status) + ": " +
                    (running ? "running" : "not running") +
                    (listening ? ", memo listener ready" : ", no memo listener") +
                    (presence ? ", presence receiver ready" : ", no presence receiver"));
  return Ok();
}

}  // namespace pbhost
