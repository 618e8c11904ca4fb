// presence_receiver.h: EntryControlThread, which keeps the entry list current from the network.
#ifndef PEERBEACON_SERVICES_PRESENCE_RECEIVER_H_
#define PEERBEACON_SERVICES_PRESENCE_RECEIVER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/socket.h"

namespace pb {

class Instance;

// Where the local-address probe's UDP socket is connected (nothing is ever sent on it): a
// fixed unicast address outside every private range, so that the route look-up goes through
// the default route, and port 7.
inline constexpr uint32_t kProbeTargetHost = 0xC0000201;  // 192.0.2.1
inline constexpr uint16_t kProbeTargetPort = 7;

// The thread procedure started by InitializeNetEx; arg is a WorkerStartup it takes over.
void EntryControlThread(void* arg);

// One try of the discovery after the host name's look-up: the address (network order) that
// replaces current, the configured address or what an earlier try found. The first of
// host_addresses (the look-up's result, in its order) that this machine can bind; when none
// can be bound, current stays, and a current of 0 is replaced by the address that the route
// probe finds (0 when it finds none).
uint32_t ChooseLocalAddress(const std::vector<uint32_t>& host_addresses, uint32_t current);

// Settles on the local IPv4 address (network order) in five tries, starting from
// configured; 0 when none was found or stop_event was set before a try.
uint32_t DiscoverLocalAddress(uint32_t configured, void* stop_event);

// Handles one received datagram as the receive loop does once it has the bytes and the source:
// the filters (access list, structure, magic, domain key), the reply to a start from another
// address, and the change of the instance's entry list and peer-group table under the list
// lock. False when the stop event ended a wait for the list lock.
bool HandleEntryDatagram(Instance& instance, const uint8_t* data, size_t received,
                         const SocketAddress& source);
// The same on the current instance; true (nothing done) while the plug-in is stopped.
bool HandleEntryDatagram(const uint8_t* data, size_t received, const SocketAddress& source);

}  // namespace pb

#endif  // PEERBEACON_SERVICES_PRESENCE_RECEIVER_H_
