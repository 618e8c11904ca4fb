// presence_sender.cc: MulticastEntry, SendEntryCommand and the four presence exports.
#include "services/presence_sender.h"

#include "core/error_log.h"
#include "core/plugin_state.h"
#include "store/entry_list.h"
#include "store/group_table.h"
#include "wire/entry_command.h"

namespace pb {
namespace {

constexpr char kMulticastEntry[] = "MulticastEntry";
constexpr char kSendEntryCommand[] = "SendEntryCommand";

}  // namespace

int32_t MulticastEntry(int32_t command, int32_t argument) {
  PluginState& s = g_stOrgData;
  if (s.initialized.load() == 0) {
    WriteErrorLog("no init!g_stOrgData", kMulticastEntry);
    return 0;
  }
  EntryCommandBuffer datagram = BuildEntryCommand(command, argument, s);
  if (!datagram) {
    WriteErrorLog("memory alloc erro!", kMulticastEntry);
    return 0;
  }
  Socket socket = Socket::Create(kSockDgram, kIpProtoDefault);
  if (!socket) {
    WriteErrorLog("SocketCreateErr", kMulticastEntry);
    return 0;
  }
  const uint32_t interface_address = s.interfaceAddress.load();
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

int32_t SendEntryCommand(int32_t command, int32_t argument, const char* /*text*/,
                         const SocketAddress& destination) {
  PluginState& s = g_stOrgData;
  if (s.initialized.load() == 0) {
    WriteErrorLog("no init!g_stOrgData", kSendEntryCommand);
    return 0;
  }
  EntryCommandBuffer datagram = BuildEntryCommand(command, argument, s);
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

int32_t StartEntryImpl() {
  if (g_stOrgData.initialized.load() == 0) return 0;
  MulticastEntry(kEntryStart, 0);
  return 1;
}

int32_t StartEntryExImpl(int32_t absence) {
  if (g_stOrgData.initialized.load() == 0) return 0;
  // Announces the value without making it the absence that later replies carry.
  MulticastEntry(kEntryStart, absence);
  return 1;
}

int32_t AbsenceEntryImpl(int32_t absence) {
  if (g_stOrgData.initialized.load() == 0) return 0;
  g_stOrgData.absence.store(absence);
  MulticastEntry(kEntryUpdate, absence);
  return 1;
}

int32_t ExitEntryImpl() {
  PluginState& s = g_stOrgData;
  if (s.initialized.load() == 0) return 0;
  // The local tables are emptied first; peers heard after this are stored again.
  if (s.entryList->WaitOrStop(s.stopEvent) != 0) {
    s.entryList->Clear();
    s.peerGroups->Clear();
    s.entryList->Release();
  }
  MulticastEntry(kEntryExit, 0);
  return 1;
}

}  // namespace pb
