// presence_sender.h: putting entry commands on the network, by multicast and by unicast.
#ifndef PEERBEACON_SERVICES_PRESENCE_SENDER_H_
#define PEERBEACON_SERVICES_PRESENCE_SENDER_H_

#include <cstdint>

#include "net/socket.h"

namespace pb {

class Instance;

// Multicasts one entry command with the instance's identity to the group and port of its
// settings, through the local interface address. 1 when the datagram was handed to the
// platform; failures are logged with the reporter "MulticastEntry".
int32_t MulticastEntry(const Instance& instance, int32_t command, int32_t argument);

// Sends one entry command with the instance's identity by unicast to destination (the
// receiver's reply to a start). Failures are logged with the reporter "SendEntryCommand".
int32_t SendEntryCommand(const Instance& instance, int32_t command, int32_t argument,
                         const SocketAddress& destination);

// Behind the presence exports, on a running instance: 1 whether or not the datagram could be sent.
int32_t HostStartEntry(const Instance& instance);
int32_t HostStartEntryEx(const Instance& instance, int32_t absence);
int32_t HostAbsenceEntry(const Instance& instance, int32_t absence);
// Empties the entry list and the peer-group table (unless the stop event ends the wait for
// the list lock), then announces the exit.
int32_t HostExitEntry(const Instance& instance);

}  // namespace pb

#endif  // PEERBEACON_SERVICES_PRESENCE_SENDER_H_
