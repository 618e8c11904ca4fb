// lifecycle.h: starting and stopping the plug-in the way a messenger does.
#ifndef PEERBEACON_HOST_LIFECYCLE_H_
#define PEERBEACON_HOST_LIFECYCLE_H_

#include <string>

#include "host/session.h"

namespace pbhost {

// Describes the plug-in (NetExSpecification), initialises it on the window thread and, with
// `announce`, announces the user. False when InitializeNetEx did not return 1; the caller
// must still call StopPlugin, which removes a notification window left by a failed start.
bool StartPlugin(Session& session, const std::string& text, bool announce);

// Says goodbye (ExitEntry) when still announced, then UnInitializeNetEx on the window thread.
void StopPlugin(Session& session);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_LIFECYCLE_H_
