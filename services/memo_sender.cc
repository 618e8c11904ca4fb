// memo_sender.cc: one memo exchange on the caller's thread: connect, greeting, frame, result.
#include "services/memo_sender.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/plugin_state.h"
#include "net/socket.h"
#include "net/socket_events.h"
#include "platform/platform.h"
#include "store/instance.h"
#include "wire/byte_order.h"
#include "wire/memo_frame.h"

namespace pb {
namespace {

// The exchange's results, as the host sees them.
constexpr int32_t kStopped = PB_MEMO_STOPPED;
constexpr int32_t kFailed = PB_MEMO_FAILED;
constexpr int32_t kTimedOut = PB_MEMO_TIMEOUT;
constexpr int32_t kCancelled = PB_MEMO_CANCELLED;
constexpr int32_t kGoOn = -1;  // the phase goes on
// Large frames are sent through a staging buffer of this size, so a memo is never copied whole.
constexpr size_t kStagingSize = 256 * 1024;

class Exchange {
 public:
  Exchange(const Instance& instance, uint32_t timeout_ms, PB_HANDLE cancel)
      : timeout_ms_(timeout_ms), stop_(instance.stop_event()) {
    cancel_ = platform::WrapHostHandle(cancel);
  }
  ~Exchange() {
    if (event_) SelectSocketEvent(socket_.get(), event_.get(), 0);
    socket_.Close();
    platform::ReleaseHostHandle(cancel_);
  }

  int32_t Run(const uint8_t* record, const uint8_t* data, int32_t size) {
    socket_ = Socket::Create(kSockStream, kIpProtoTcp);
    if (!socket_) return kFailed;
    event_.reset(platform::CreateEventObject(/*manual_reset=*/false, /*initially_set=*/false));
    if (!event_) return kFailed;

    // Without a dispatcher slot no notification could ever end a wait: fail now instead of
    // after the time-out (or never, without one).
    if (SelectSocketEvent(socket_.get(), event_.get(), kFdConnect | kFdClose) != 1) {
      return kFailed;
    }
    SocketAddress target;
    SocketAddress::Read(record + 28, SocketAddress::kSize, &target);
    if (!socket_.Connect(target)) {
      if (LastSocketError() != kWsaEWouldBlock) return kFailed;
      const int32_t woke = PhaseWait();
      if (woke != kGoOn) return woke;
      // The dispatcher keeps the error of the connect: a refused or unreachable peer ends the
      // exchange now instead of after a greeting that cannot come.
      if (GetSocketEventError(socket_.get()) != 0) return kFailed;
    }
    SelectSocketEvent(socket_.get(), event_.get(), kFdRead | kFdClose);

    uint8_t greeting[kMemoGreetingSize];
    int32_t r = ReceiveExactly(greeting, sizeof greeting, /*stop_at_nul=*/true);
    if (r != kGoOn) return r;
    if (memcmp(greeting, kMemoGreeting, kMemoGreetingSize) != 0) return kFailed;

    // FD_READ | FD_CLOSE stays armed for the result: a frame that goes out at once, the usual
    // case, needs no FD_WRITE (SendFrame arms it only while a send would block).
    r = SendFrame(data, size);
    if (r != kGoOn) return r;

    uint8_t result[4];
    r = ReceiveExactly(result, sizeof result, /*stop_at_nul=*/false);
    if (r != kGoOn) return r;
    return ReadLe32Signed(result);
  }

 private:
  // One phase wait: kGoOn after socket news other than a close, else the exchange's result.
  // A cancel handle that was closed or never opened makes every wait fail; SendResultData has
  // no time-out to end that, so a short run of failed waits ends the exchange with 3.
  int32_t PhaseWait() {
    platform::Handle waits[3] = {stop_, event_.get(), cancel_};
    const uint32_t count = cancel_ != nullptr ? 3 : 2;
    uint32_t failures = 0;
    for (;;) {
      const uint32_t woke = WaitSocketEvents(count, waits, false, timeout_ms_, false);
      if (woke == platform::kWaitTimeout) return kTimedOut;
      if (woke == 0) return kStopped;
      if (woke == 2) return kCancelled;
      if (woke == 1) {
        SocketEventRecord record{};
        GetSocketEvent(socket_.get(), event_.get(), &record);
        last_code_ = record.event;
        return kGoOn;
      }
      switch (AfterFailedWait(stop_, &failures)) {
        case FailedWait::kRetry:
          break;
        case FailedWait::kStopped:
          return kStopped;
        case FailedWait::kGiveUp:
          return kFailed;
      }
    }
  }

  // Reads until size bytes are in (or, for the greeting, until its NUL). A close before
  // that, a hard failure, or fewer bytes than wanted end the exchange with 3.
  int32_t ReceiveExactly(uint8_t* out, size_t size, bool stop_at_nul) {
    size_t got = 0;
    memset(out, 0, size);
    for (;;) {
      const int32_t woke = PhaseWait();
      if (woke != kGoOn) return woke;
      const bool closed = last_code_ == kFdClose;
      for (;;) {
        const int32_t n = socket_.Receive(out + got, static_cast<int32_t>(size - got));
        if (n == 0) return kFailed;
        if (n < 0) {
          if (LastSocketError() != kWsaEWouldBlock) return kFailed;
          break;
        }
        got += static_cast<size_t>(n);
        if (got == size) return kGoOn;
        if (stop_at_nul && memchr(out, 0, got) != nullptr) return kGoOn;
      }
      if (closed) return kFailed;
    }
  }

  // Sends the frame: its length (payload + 8), the payload and 4 zero bytes that the receiver
  // never reads. A send that would block, or is partial, is completed on the next FD_WRITE:
  // only then is FD_WRITE | FD_CLOSE armed, and FD_READ | FD_CLOSE again once the frame is out.
  int32_t SendFrame(const uint8_t* data, int32_t size) {
    const size_t payload = size > 0 ? static_cast<size_t>(size) : 0;
    const size_t total = payload + 8;
    const size_t staging = std::min(total, kStagingSize);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[staging]);
    if (!buffer) return kFailed;
    bool write_armed = false;
    size_t sent = 0;
    while (sent < total) {
      // Fill the staging buffer with frame bytes [sent, sent + chunk).
      const size_t chunk = std::min(staging, total - sent);
      for (size_t i = 0; i < chunk;) {
        const size_t at = sent + i;
        if (at < 4) {
          uint8_t length[4];
          WriteLe32(length, static_cast<uint32_t>(total));
          buffer[i++] = length[at];
        } else if (at < 4 + payload) {
          const size_t n = std::min(chunk - i, 4 + payload - at);
          memcpy(buffer.get() + i, data + (at - 4), n);
          i += n;
        } else {
          buffer[i++] = 0;
        }
      }
      size_t done = 0;
      while (done < chunk) {
        const int32_t n = socket_.Send(buffer.get() + done, static_cast<int32_t>(chunk - done));
        if (n > 0) {
          done += static_cast<size_t>(n);
          continue;
        }
        if (n < 0 && LastSocketError() != kWsaEWouldBlock) return kFailed;
        // Arming a socket that has become writable meanwhile posts FD_WRITE at once, so the
        // wait below cannot miss the room the blocked send waits for.
        if (!write_armed) {
          SelectSocketEvent(socket_.get(), event_.get(), kFdWrite | kFdClose);
          write_armed = true;
        }
        const int32_t woke = PhaseWait();
        if (woke != kGoOn) return woke;
        if (last_code_ == kFdClose) return kFailed;
      }
      sent += chunk;
    }
    // The whole frame is out. An FD_WRITE posted after the last wait may still set the event;
    // the result phase then finds nothing to read and waits again. A close that follows does
    // not fail the exchange: a receiver may answer and close at once, and its result then
    // waits in the queue ahead of the close for the result phase to read.
    if (write_armed) SelectSocketEvent(socket_.get(), event_.get(), kFdRead | kFdClose);
    return kGoOn;
  }

  uint32_t timeout_ms_;
  platform::Handle stop_;
  platform::Handle cancel_ = nullptr;
  Socket socket_;
  platform::UniqueHandle event_;
  uint32_t last_code_ = 0;
};

}  // namespace

int32_t SendMemoExchange(const Instance& instance, const void* record, const void* data,
                         int32_t size, uint32_t timeout_ms, PB_HANDLE cancel) {
  if (record == nullptr) return kFailed;
  if (size > 0 && data == nullptr) return kFailed;
  if (size < 0 || size > INT32_MAX - 8) return kFailed;
  Exchange exchange(instance, timeout_ms, cancel);
  return exchange.Run(static_cast<const uint8_t*>(record), static_cast<const uint8_t*>(data), size);
}

int32_t SendMemoExchange(const void* record, const void* data, int32_t size, uint32_t timeout_ms,
                         PB_HANDLE cancel) {
  // The exchange may still wait on the stop event while another thread shuts the plug-in
  // down; this reference keeps the instance and its event alive until it is over.
  const std::shared_ptr<Instance> instance = CurrentInstance();
  if (g_stOrgData.initialized.load() == 0 || !instance) return kFailed;
  return SendMemoExchange(*instance, record, data, size, timeout_ms, cancel);
}

int32_t HostSendMemoData(const Instance& instance, const void* record, const void* data,
                         int32_t size, PB_HANDLE cancel) {
  return SendMemoExchange(instance, record, data, size, kMemoSendWaitMs, cancel);
}

int32_t HostSendResultData(const Instance& instance, const void* record, const void* data,
                           int32_t size, PB_HANDLE cancel) {
  return SendMemoExchange(instance, record, data, size, platform::kInfinite, cancel);
}

}  // namespace pb
