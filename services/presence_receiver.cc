// presence_receiver.cc: EntryControlThread: address discovery, the multicast socket and the
// receive loop that turns entry commands into changes of the entry list.
#include "services/presence_receiver.h"

#include <memory>
#include <new>

#include "core/error_log.h"
#include "core/plugin_state.h"
#include "core/workers.h"
#include "files/access_list.h"
#include "net/socket_events.h"
#include "services/presence_sender.h"
#include "store/entry_list.h"
#include "store/group_table.h"
#include "store/instance.h"
#include "wire/entry_command.h"

namespace pb {
namespace {

constexpr char kReporter[] = "EntryControlThread";
constexpr int kDiscoveryTries = 5;
constexpr uint32_t kPresenceMask = kFdRead | kFdClose;

bool StopRequested(void* stop_event) {
  platform::Handle stop = stop_event;
  return stop != nullptr && platform::WaitForObjects(1, &stop, 0) == 0;
}

uint32_t ProbeLocalAddress() {
  Socket probe = Socket::Create(kSockDgram, kIpProtoDefault);
  if (!probe) return 0;
  SocketAddress local;
  if (!probe.Connect(SocketAddress::FromHost(kProbeTargetHost, kProbeTargetPort)) ||
      !probe.LocalName(&local)) {
    return 0;
  }
  return local.address;
}

// Whether the address is one of this machine's own: a UDP socket can be bound to it. A stale
// hosts line or DNS record can name an address the machine no longer has, and the presence
// sender bound to it would fail every send.
bool CanBindLocally(uint32_t address) {
  if (address == 0) return false;
  Socket test = Socket::Create(kSockDgram, kIpProtoDefault);
  return test && test.Bind(SocketAddress::FromNetwork(address, 0));
}

// Room for the largest UDP datagram, with spare bytes behind it.
constexpr size_t kDatagramRoom = 65536;

// Receives the queued datagrams, at most DatagramsPerReadNotification() of them, and hands each
// on; false when the plug-in stops. Without a buffer (no memory at start) a datagram is still
// taken off the socket, so that the next one is announced.
bool ReceiveQueued(Instance& instance, Socket& socket, uint16_t port, uint8_t* buffer) {
  uint8_t discard[16];
  uint8_t* target = buffer != nullptr ? buffer : discard;
  const int32_t target_size =
      buffer != nullptr ? static_cast<int32_t>(kDatagramRoom) : static_cast<int32_t>(sizeof discard);
  const uint32_t limit = DatagramsPerReadNotification();
  for (uint32_t taken = 0; taken < limit; ++taken) {
    SocketAddress source;
    const int32_t received = socket.ReceiveFrom(target, target_size, &source);
    if (received < 0) {
      const int32_t error = LastSocketError();
      // Nothing (more) queued behind the notification is not a failure of the receive.
      if (error != kWsaEWouldBlock) {
        WriteErrorLogCode("Err[sMulticast:recvfrom]:%d", error, kReporter);
      }
      return true;
    }
    if (buffer == nullptr) continue;
    source.port = port;
    if (!HandleEntryDatagram(instance, buffer, static_cast<size_t>(received), source)) {
      return false;
    }
  }
  return true;
}

// Called with the entry-list lock held, which also guards the peer-group table.
void StoreEntry(Instance& instance, const uint8_t* data, const SocketAddress& reply) {
  const char* groups = EntryCommandGroup(data);
  int32_t count = 0;
  std::unique_ptr<int32_t[]> ids;
  if (groups != nullptr) {
    count = GroupTable::CountGroups(groups);
    if (count > 0) {
      ids.reset(new (std::nothrow) int32_t[static_cast<size_t>(count)]);
      if (!ids) return;  // no memory for the ids: the datagram is skipped
    }
  }
  if (groups != nullptr) instance.peer_groups().ParseGroups(groups, ids.get(), count);
  uint8_t address[SocketAddress::kSize];
  reply.Write(address);
  instance.entries().Upsert(address, data, ids.get(), count);
}

}  // namespace

uint32_t ChooseLocalAddress(const std::vector<uint32_t>& host_addresses, uint32_t current) {
  uint32_t address = current;
  for (const uint32_t candidate : host_addresses) {
    if (CanBindLocally(candidate)) {
      address = candidate;
      break;
    }
  }
  if (address == 0) address = ProbeLocalAddress();
  return address;
}

uint32_t DiscoverLocalAddress(uint32_t configured, void* stop_event) {
  uint32_t address = configured;
  for (int attempt = 0; attempt < kDiscoveryTries; ++attempt) {
    if (StopRequested(stop_event)) return 0;
    std::string host;
    std::vector<uint32_t> resolved;
    // A host-name address of this machine replaces a configured one in every try.
    if (!LocalHostName(&host) || !ResolveHostIpv4(host, &resolved)) resolved.clear();
    address = ChooseLocalAddress(resolved, address);
  }
  return address;
}

bool HandleEntryDatagram(Instance& instance, const uint8_t* data, size_t received,
                         const SocketAddress& reply) {
  const Settings& s = instance.settings;
  if (s.checkFrom != 0 && IsAddressAllowed(reply.address, "allow.lst") != 1) return true;
  const int32_t command = ClassifyEntryCommand(data, received, s.domainKey);
  if (command == 0) return true;
  if (command == kEntryStart && reply.address != g_stOrgData.interfaceAddress.load()) {
    SendEntryCommand(instance, kEntryUpdate, g_stOrgData.absence.load(), reply);
  }
  EntryListLock lock(instance.entries(), instance.stop_event());
  if (!lock.owns()) return false;
  if (command == kEntryExit) {
    uint8_t address[SocketAddress::kSize];
    reply.Write(address);
    instance.entries().Remove(address);
  } else {
    StoreEntry(instance, data, reply);
  }
  return true;
}

bool HandleEntryDatagram(const uint8_t* data, size_t received, const SocketAddress& reply) {
  const std::shared_ptr<Instance> instance = CurrentInstance();
  if (!instance) return true;
  return HandleEntryDatagram(*instance, data, received, reply);
}

namespace {

void RunReceiver(const WorkerStartup& startup) {
  Instance& instance = *startup.instance;
  const Settings& s = instance.settings;
  platform::Handle stop = instance.stop_event();
  const uint16_t port = static_cast<uint16_t>(s.port);

  const uint32_t local = DiscoverLocalAddress(s.interfaceAddress, stop);
  if (local == 0) {
    if (!StopRequested(stop)) instance.Publish([] { g_stOrgData.presenceReady.store(0); });
    return;
  }
  instance.Publish([local] { g_stOrgData.interfaceAddress.store(local); });

  Socket socket = Socket::Create(kSockDgram, kIpProtoDefault);
  if (!socket) {
    WriteErrorLogCode("SocketCreateErr[sMulticast]:%d", LastSocketError(), kReporter);
    return;
  }
  platform::UniqueHandle event;
  if (!socket.Bind(SocketAddress::FromNetwork(0, port))) {
    WriteErrorLogCode("Err[sMulticast:bind]:%d", LastSocketError(), kReporter);
  } else if (!socket.JoinGroup(s.groupAddress, local)) {
    WriteErrorLogCode("Err[IP_ADD_MEMBERSHIP]:%d", LastSocketError(), kReporter);
  } else {
    event.reset(platform::CreateEventObject(/*manual_reset=*/false, /*initially_set=*/false));
  }
  // Without a slot the receiver would never hear of a datagram while notifications flow: it
  // ends as after a failed bind, telling why as the listener does.
  if (event && SelectSocketEvent(socket.get(), event.get(), kPresenceMask) != 1 &&
      SocketEventsOpen()) {
    WriteErrorLogCode("Err[SelectSocketEvent]:%d", kWsaENoBufs, kReporter);
    event.reset();
  }
  if (event) {
    startup.SignalStarted();
    const std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kDatagramRoom]);
    while (WaitForSocketNews(stop, event.get()) &&
           ReceiveQueued(instance, socket, port, buffer.get())) {
    }
    SelectSocketEvent(socket.get(), event.get(), 0);
  }
  socket.LeaveGroup(s.groupAddress, local);
}

}  // namespace

void EntryControlThread(void* arg) { RunWorker<WorkerStartup>(arg, RunReceiver); }

}  // namespace pb
