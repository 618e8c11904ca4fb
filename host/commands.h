// commands.h: the handlers behind the host's commands; command_table.cc lists them.
#ifndef PEERBEACON_HOST_COMMANDS_H_
#define PEERBEACON_HOST_COMMANDS_H_

#include "host/session.h"

namespace pbhost {

// Entry list (list_commands.cc).
CommandResult RunPeers(Session& session, const CommandArgs& args);
CommandResult RunGroups(Session& session, const CommandArgs& args);
CommandResult RunRecords(Session& session, const CommandArgs& args);
CommandResult RunInfo(Session& session, const CommandArgs& args);
CommandResult RunWaitPeers(Session& session, const CommandArgs& args);

// Presence and status (presence_commands.cc).
CommandResult RunStart(Session& session, const CommandArgs& args);
CommandResult RunStartEx(Session& session, const CommandArgs& args);
CommandResult RunAbsence(Session& session, const CommandArgs& args);
CommandResult RunLeave(Session& session, const CommandArgs& args);
CommandResult RunStatus(Session& session, const CommandArgs& args);

// Memos (memo_commands.cc).
CommandResult RunSend(Session& session, const CommandArgs& args);
CommandResult RunSendWait(Session& session, const CommandArgs& args);
CommandResult RunSendBytes(Session& session, const CommandArgs& args);
CommandResult RunAccept(Session& session, const CommandArgs& args);

// Dialogs (dialog_commands.cc).
CommandResult RunConfig(Session& session, const CommandArgs& args);
CommandResult RunAbout(Session& session, const CommandArgs& args);
CommandResult RunInput(Session& session, const CommandArgs& args);

// Waiting for other hosts (wait_commands.cc).
CommandResult RunWaitPeer(Session& session, const CommandArgs& args);
CommandResult RunWaitMemos(Session& session, const CommandArgs& args);

// Parses a whole decimal 32-bit integer; false for anything else.
bool ParseInt32(const std::string& text, int32_t* value);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_COMMANDS_H_
