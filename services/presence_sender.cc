// presence_sender.cc: MulticastEntry, SendEntryCommand and the four presence exports.
#include "services/presence_sender.h"

#include "core/error_log.h"
#include "core/plugin_state.h"
#include "store/entry_list.h"
#include "store/group_table.h"
#include "store/instance.h"
#include "wire/entry_command.h"

namespace pb {
namespace {

constexpr char kMulticastEntry[] = "MulticastEntry";
constexpr char kSendEntryCommand[] = "SendEntryCommand";

}  // namespace

int32_t MulticastEntry(const Instance& instance, int32_t command, int32_t argument) {
  const Settings& s = instance.settings;
  EntryCommandBuffer datagram = instance.OwnEntryCommand(command, argument);
  if (!datagram) {
    WriteErrorLog("memory alloc erro!", kMulticastEntry);
    return 0;
  }
  Socket socket = Socket::Create(kSockDgram, kIpProtoDefault);
  if (!socket) {
    WriteErrorLog("SocketCreateErr", kMulticastEntry);
    return 0;
  }
  const uint32_t interface_address = g_stOrgData.interfaceAddress.load();
  if (!socket.Bind(SocketAddress::FromNetwork(interface_address, 0))) {
    WriteErrorLogCode("Err[bind]:%d", LastSocketError(), kMulticastEntry);
    return 0;
  }
  if (!socket.SetMulticastTtl(s.ttl)) {
    WriteErrorLogCode("Err[IP_MULTICAST_TTL]:%d", LastSocketError(), kMulticastEntry);
    return 0;
  }
  if (!socket.SetMulticastInterface(interface_address)) {
    WriteErrorLogCode("Err[IP_MULTICAST_IF]:%d", LastSocketError(), kMulticastEntry);
    return 0;
  }
  socket.SetNonBlocking(true);
  const SocketAddress group =
      SocketAddress::FromNetwork(s.groupAddress, static_cast<uint16_t>(s.port));
  if (socket.SendTo(datagram.data(), static_cast<int32_t>(datagram.size()), group) < 0) {
    WriteErrorLogCode("Err[sendto]:%d", LastSocketError(), kMulticastEntry);
    return 0;
  }
  return 1;
}

int32_t SendEntryCommand(const Instance& instance, int32_t command, int32_t argument,
                         const SocketAddress& destination) {
  EntryCommandBuffer datagram = instance.OwnEntryCommand(command, argument);
  if (!datagram) {
    WriteErrorLog("memory alloc error!", kSendEntryCommand);
    return 0;
  }
  Socket socket = Socket::Create(kSockDgram, kIpProtoUdp);
  if (!socket) {
    WriteErrorLog("SocketCreateErr", kSendEntryCommand);
    return 0;
  }
  if (!socket.Bind(SocketAddress::FromNetwork(0, 0))) {
    WriteErrorLogCode("Err[bind]:%d", LastSocketError(), kSendEntryCommand);
    return 0;
  }
  socket.SetLinger(true, 0);
  // The socket stays blocking and has no multicast options: routing picks the interface.
  if (socket.SendTo(datagram.data(), static_cast<int32_t>(datagram.size()), destination) < 0) {
    WriteErrorLogCode("Err[sendto]:%d", LastSocketError(), kSendEntryCommand);
    return 0;
  }
  return 1;
}

int32_t HostStartEntry(const Instance& instance) {
  MulticastEntry(instance, kEntryStart, 0);
  return 1;
}

int32_t HostStartEntryEx(const Instance& instance, int32_t absence) {
  // Announces the value without making it the absence that later replies carry.
  MulticastEntry(instance, kEntryStart, absence);
  return 1;
}

int32_t HostAbsenceEntry(const Instance& instance, int32_t absence) {
  g_stOrgData.absence.store(absence);
  MulticastEntry(instance, kEntryUpdate, absence);
  return 1;
}

int32_t HostExitEntry(const Instance& instance) {
  // The local tables are emptied first; peers heard after this are stored again.
  {
    EntryListLock lock(instance.entries(), instance.stop_event());
    if (lock.owns()) {
      instance.entries().Clear();
      instance.peer_groups().Clear();
    }
  }
  MulticastEntry(instance, kEntryExit, 0);
  return 1;
}

}  // namespace pb
