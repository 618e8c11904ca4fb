// memo_receiver.cc: the memo listener and the connection thread that greets a caller, collects
// one frame, hands it to the host's callback and answers with the result.
#include "services/memo_receiver.h"

#include <atomic>
#include <cstring>
#include <new>

#include "core/error_log.h"
#include "core/plugin_state.h"
#include "core/workers.h"
#include "files/access_list.h"
#include "hostview/host_interface.h"
#include "net/socket_events.h"
#include "store/entry_list.h"
#include "store/instance.h"
#include "wire/byte_order.h"
#include "wire/memo_frame.h"

namespace pb {
namespace {

constexpr char kReporter[] = "ListenThread";
constexpr int32_t kListenBacklog = 4;
constexpr uint32_t kBusyRetryMs = 100;

std::atomic<uint32_t> g_connection_wait_ms{60000};

// How one wait of a connection thread ended.
enum class Wake { kSocket, kStop, kGiveUp };

// The connection thread's socket, its event and the waits on them, with the stop event at
// index 0. Every wait ends within the bound; failed waits end it sooner (AfterFailedWait).
class Connection {
 public:
  Connection(SocketHandle socket, platform::Handle stop) : socket_(socket), stop_(stop) {}
  ~Connection() {
    if (event_) SelectSocketEvent(socket_.get(), event_.get(), 0);
  }
  bool CreateEvent() {
    event_.reset(platform::CreateEventObject(/*manual_reset=*/false, /*initially_set=*/false));
    return static_cast<bool>(event_);
  }
  bool Arm(uint32_t mask) { return SelectSocketEvent(socket_.get(), event_.get(), mask) == 1; }
  Socket& socket() { return socket_; }

  // Waits for the socket's next notification; *code receives its event code.
  Wake Wait(uint32_t* code) {
    const platform::Handle waits[2] = {stop_, event_.get()};
    const uint64_t deadline = platform::MonotonicMs() + MemoConnectionWaitMs();
    uint32_t failures = 0;
    for (;;) {
      const uint64_t now = platform::MonotonicMs();
      if (now >= deadline) return Wake::kGiveUp;
      const uint32_t woke =
          WaitSocketEvents(2, waits, false, static_cast<uint32_t>(deadline - now), false);
      if (woke == 0) return Wake::kStop;
      if (woke == 1) {
        SocketEventRecord record{};
        GetSocketEvent(socket_.get(), event_.get(), &record);
        *code = record.event;
        return Wake::kSocket;
      }
      if (woke == platform::kWaitTimeout) return Wake::kGiveUp;
      switch (AfterFailedWait(stop_, &failures)) {
        case FailedWait::kRetry:
          break;
        case FailedWait::kStopped:
          return Wake::kStop;
        case FailedWait::kGiveUp:
          return Wake::kGiveUp;
      }
    }
  }

  // Sends all of data, completing a send that would block on the next FD_WRITE (armed with
  // FD_WRITE | FD_CLOSE). False when the connection failed, closed or timed out.
  bool SendAll(const uint8_t* data, size_t size) {
    size_t sent = 0;
    while (sent < size) {
      const int32_t n = socket_.Send(data + sent, static_cast<int32_t>(size - sent));
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && LastSocketError() != kWsaEWouldBlock) return false;
      uint32_t code = 0;
      if (Wait(&code) != Wake::kSocket || code == kFdClose) return false;
    }
    return true;
  }

 private:
  Socket socket_;
  platform::Handle stop_;
  platform::UniqueHandle event_;
};

enum class Frame { kComplete, kClosed, kAbandon };

// Reads what the socket announces into the frame buffer until the frame is complete.
// kClosed: the caller closed (or a hard FIONREAD failure) before the frame was complete: the
// reply is 0 without the host. kAbandon: stop, time-out, memory or receive failure: no reply.
Frame ReceiveFrame(Connection& c, MemoFrameBuffer& frame) {
  for (;;) {
    uint32_t code = 0;
    if (c.Wait(&code) != Wake::kSocket) return Frame::kAbandon;
    const bool closed = code == kFdClose;
    if (!closed && code != kFdRead) continue;
    // Take whatever is queued, also behind a close, so that no byte the caller sent is lost.
    for (;;) {
      uint32_t available = 0;
      if (!c.socket().BytesAvailable(&available)) {
        const int32_t error = LastSocketError();
        if (error == kWsaEWouldBlock || error == kWsaEInProgress) {
          platform::SleepMs(kBusyRetryMs);
          continue;
        }
        return Frame::kClosed;
      }
      if (available == 0) break;
      if (!frame.Reserve(available)) return Frame::kAbandon;
      const int32_t n = c.socket().Receive(frame.tail(), static_cast<int32_t>(available));
      if (n < 0) {
        const int32_t error = LastSocketError();
        if (error == kWsaEWouldBlock || error == kWsaEInProgress) break;
        if (error == kWsaEMsgSize) {
          frame.CommitZeros(available);
        } else {
          return Frame::kAbandon;
        }
      } else if (n == 0) {
        return frame.Complete() ? Frame::kComplete : Frame::kClosed;
      } else {
        frame.Commit(static_cast<size_t>(n));
      }
      if (frame.Complete()) return Frame::kComplete;
      if (!closed) break;  // the next FD_READ announces more
    }
    if (frame.Complete()) return Frame::kComplete;
    if (closed) return Frame::kClosed;
  }
}

constexpr int32_t kAbandoned = -1;

// Looks the caller up in the instance's list and hands the memo to the host; the result to
// send back, or kAbandoned when the plug-in stops first (the host is then not called). The
// sender's record is built under the list lock and handed over outside it.
int32_t Deliver(const Instance& instance, const SocketAddress& peer, const MemoFrameBuffer& frame,
                MemoReceiveCallback callback, int32_t absence) {
  std::unique_ptr<uint8_t[]> record;
  int32_t record_size = 0;
  {
    const EntryList& list = instance.entries();
    EntryListLock lock(instance.entries(), instance.stop_event());
    if (!lock.owns()) return kAbandoned;
    const int32_t index = list.FindByAddress(peer.address);
    const int32_t size = index >= 0 ? BuildListedEntryRecord(list, index, nullptr, 0) : -1;
    if (size > 0) {
      record.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]());
      if (record) {
        record_size = BuildListedEntryRecord(list, index, record.get(), static_cast<size_t>(size));
      }
    }
  }
  if (callback == nullptr) return 3;  // nobody can take the memo: refused
  const int32_t accepted = callback(record_size > 0 ? record.get() : nullptr, record_size,
                                    frame.payload(), frame.LengthField());
  if (accepted == 0) return 3;
  return absence != 0 ? 1 : 0;
}

void ServeConnection(const MemoConnectionStart& start) {
  const Instance& instance = *start.instance;
  platform::Handle stop = instance.stop_event();
  Connection c(start.socket, stop);
  // Without an event or a free dispatcher slot the connection could never be woken.
  if (!c.CreateEvent() || !c.Arm(kFdWrite | kFdClose)) return;
  static const uint8_t* greeting = reinterpret_cast<const uint8_t*>(kMemoGreeting);
  if (!c.SendAll(greeting, kMemoGreetingSize)) return;

  MemoFrameBuffer frame;
  if (!frame.Init()) return;
  c.Arm(kFdRead | kFdClose);
  int32_t result = 0;
  switch (ReceiveFrame(c, frame)) {
    case Frame::kAbandon:
      return;
    case Frame::kClosed:
      break;  // the reply carries 0 and the host is not called
    case Frame::kComplete: {
      // Shutting down, the host is not called any more: the list lock is not taken then.
      result = Deliver(instance, start.peer, frame, start.callback, start.absence);
      if (result == kAbandoned) return;
      break;
    }
  }
  c.Arm(kFdClose);
  uint8_t reply[4];
  WriteLe32Signed(reply, result);
  const int32_t n = c.socket().Send(reply, sizeof reply);
  if (n < 0 && LastSocketError() != kWsaEWouldBlock) return;
  // The caller closes once it has the result.
  uint32_t code = 0;
  c.Wait(&code);
}

}  // namespace

uint32_t MemoConnectionWaitMs() { return g_connection_wait_ms.load(); }
void SetMemoConnectionWaitMs(uint32_t ms) { g_connection_wait_ms.store(ms); }

void MemoConnectionThread(void* arg) { RunWorker<MemoConnectionStart>(arg, ServeConnection); }

namespace {

void AcceptOne(Socket& listener, const std::shared_ptr<Instance>& instance) {
  SocketAddress peer;
  Socket accepted = listener.Accept(&peer);
  if (!accepted) {
    const int32_t error = LastSocketError();
    if (error != kWsaEWouldBlock) WriteErrorLogCode("Err[accept]:%d", error, kReporter);
    return;
  }
  if (instance->settings.checkFrom != 0 && IsAddressAllowed(peer.address, "allow.lst") != 1) {
    return;
  }
  auto* start = new (std::nothrow) MemoConnectionStart{
      instance, accepted.get(), peer, instance->memo_callback, g_stOrgData.absence.load()};
  if (start == nullptr) return;
  if (!StartWorker(&MemoConnectionThread, start)) {
    delete start;
    return;
  }
  accepted.release();  // the connection thread owns it now
}

void RunListener(const WorkerStartup& startup) {
  Instance& instance = *startup.instance;
  platform::Handle stop = instance.stop_event();
  const uint16_t port = static_cast<uint16_t>(instance.settings.port);

  Socket listener = Socket::Create(kSockStream, kIpProtoTcp);
  if (!listener) {
    WriteErrorLogCode("SocketCreateErr[sListen]:%d", LastSocketError(), kReporter);
    return;
  }
  if (!listener.Bind(SocketAddress::FromNetwork(0, port))) {
    WriteErrorLogCode("Err[bind]:%d", LastSocketError(), kReporter);
    return;
  }
  if (!listener.Listen(kListenBacklog)) {
    WriteErrorLogCode("Err[listen]:%d", LastSocketError(), kReporter);
    return;
  }
  platform::UniqueHandle event(platform::CreateEventObject(false, false));
  if (!event) {
    WriteErrorLogCode("Err[CreateEvent]:%d", LastSocketError(), kReporter);
    return;
  }
  // Without a slot the listener would never hear of a caller while notifications flow: it is
  // not ready then. The table being full is the reason, told as Winsock's "no buffer space".
  if (SelectSocketEvent(listener.get(), event.get(), kFdAccept) != 1 && SocketEventsOpen()) {
    WriteErrorLogCode("Err[SelectSocketEvent]:%d", kWsaENoBufs, kReporter);
    return;
  }
  instance.Publish([] { g_stOrgData.listening.store(1); });
  startup.SignalStarted();
  while (WaitForSocketNews(stop, event.get())) AcceptOne(listener, startup.instance);
  instance.Publish([] { g_stOrgData.listening.store(0); });
  SelectSocketEvent(listener.get(), event.get(), 0);
}

}  // namespace

void ListenThread(void* arg) { RunWorker<WorkerStartup>(arg, RunListener); }

}  // namespace pb
