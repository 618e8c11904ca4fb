// presence_sender.h: putting entry commands on the network, by multicast and by unicast.
#ifndef PEERBEACON_SERVICES_PRESENCE_SENDER_H_
#define PEERBEACON_SERVICES_PRESENCE_SENDER_H_

#include <cstdint>

#include "net/socket.h"

namespace pb {

// Multicasts one entry command to the group and port of the settings, through the local
// interface address. 1 when the datagram was handed to the platform; failures are logged
// with the reporter "MulticastEntry".
int32_t MulticastEntry(int32_t command, int32_t argument);

// Sends one entry command by unicast to destination (the receiver's reply to a start). text
// is the host's text, which is not put on the wire. Failures are logged with the reporter
// "SendEntryCommand".
int32_t SendEntryCommand(int32_t command, int32_t argument, const char* text,
                         const SocketAddress& destination);

// The presence exports: 0 while the plug-in is not initialised, else 1 whether or not the
// datagram could be sent.
int32_t StartEntryImpl();
int32_t StartEntryExImpl(int32_t absence);
int32_t AbsenceEntryImpl(int32_t absence);
int32_t ExitEntryImpl();

}  // namespace pb

#endif  // PEERBEACON_SERVICES_PRESENCE_SENDER_H_
