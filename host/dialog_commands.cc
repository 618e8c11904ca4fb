// dialog_commands.cc: the plug-in's dialogs: settings, About, and direct input of a memo's
// destination.
#include <functional>
#include <optional>

#include "host/commands.h"
#include "host/host_window.h"
#include "host/records.h"

namespace pbhost {
namespace {

// Dialogs are owned by the host window and run on its thread, like the plug-in's start-up.
int32_t OnWindowThread(Session& session, const std::function<int32_t(PB_HWND)>& dialog) {
  int32_t result = 0;
  PB_HWND window = session.window.window();
  session.window.Run([&] { result = dialog(window); });
  return result;
}

CommandResult Report(Session& session, const char* name, int32_t result) {
  session.out.Machine(std::string("CALL ") + name + " " + std::to_string(result));
  session.out.Human(std::string(name) + " returned " + std::to_string(result));
  return result == 1 ? Ok() : Failed(std::string(name) + " returned " + std::to_string(result));
}

}  // namespace

CommandResult RunConfig(Session& session, const CommandArgs& /*args*/) {
  const int32_t r =
      OnWindowThread(session, [&](PB_HWND w) { return session.api.NetExConfigure(w); });
  session.out.Human("the new settings take effect at the next start of the plug-in");
  return Report(session, "NetExConfigure", r);
}

CommandResult RunAbout(Session& session, const CommandArgs& /*args*/) {
  return Report(session, "NetExAbout",
                OnWindowThread(session, [&](PB_HWND w) { return session.api.NetExAbout(w); }));
}

CommandResult RunInput(Session& session, const CommandArgs& /*args*/) {
  PB_HGLOBAL block = nullptr;
  const int32_t r =
      OnWindowThread(session, [&](PB_HWND w) { return session.api.InputEntry(w, &block); });
  if (r != 1) {
    session.out.Machine("INPUT result=" + std::to_string(r));
    session.out.Human("no destination was typed");
    return Ok();
  }
  std::vector<uint8_t> record;
  std::string why = "the block cannot be read";
  std::optional<PeerRecord> peer;
  if (TakeGlobalRecord(block, &record)) peer = DecodeEntryRecord(record, &why);
  if (!peer) return Failed("the direct-input record is unusable: " + why);
  session.typed_record = std::move(record);
  session.out.Machine("INPUT result=1 addr=" + DottedAddress(peer->address) +
                      " port=" + std::to_string(peer->port) +
                      " size=" + std::to_string(session.typed_record.size()));
  session.out.Human("destination " + DottedAddress(peer->address) +
                    ": send memos to it with "
                    "'send typed TEXT'");
  return Ok();
}

}  // namespace pbhost
