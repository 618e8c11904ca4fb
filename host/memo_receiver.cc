// memo_receiver.cc: shows received memos and accepts them.
#include "host/memo_receiver.h"

#include <algorithm>
#include <atomic>
#include <span>
#include <string>

#include "host/records.h"
#include "host/text_escape.h"
#include "platform/platform.h"

namespace pbhost {
namespace {

std::atomic<Output*> g_memo_output{nullptr};
std::atomic<bool> g_memo_accepted{true};
std::atomic<int32_t> g_memos_received{0};

// The frame's length counts its 4-byte length field and 4-byte trailer around the payload.
constexpr int32_t kFrameOverhead = 8;
// Longer payloads are shown cut to this many bytes.
constexpr size_t kShownBytes = 4096;

}  // namespace

void SetMemoOutput(Output* out) { g_memo_output.store(out); }
void SetMemoAccepted(bool accepted) { g_memo_accepted.store(accepted); }
int32_t MemosReceived() { return g_memos_received.load(); }

int32_t PB_CALL ReceiveMemo(const void* record, int32_t record_size, const void* data,
                            int32_t length) {
  Output* out = g_memo_output.load();
  const int32_t answer = g_memo_accepted.load() ? 1 : 0;
  if (out == nullptr) {
    g_memos_received.fetch_add(1);
    return answer;
  }
  std::string from = "-", name, port = "0", problem;
  if (record != nullptr && record_size > 0) {
    std::string error;
    auto peer = DecodeEntryRecord(
        std::span(static_cast<const uint8_t*>(record), static_cast<size_t>(record_size)), &error);
    if (peer) {
      from = DottedAddress(peer->address);
      port = std::to_string(peer->port);
      name = peer->name;
    } else {
      problem = "sender record unreadable: " + error;
    }
  }
  const size_t payload =
      data != nullptr && length > kFrameOverhead ? static_cast<size_t>(length - kFrameOverhead) : 0;
  const std::string text =
      payload == 0 ? std::string()
                   : std::string(static_cast<const char*>(data), std::min(payload, kShownBytes));
  out->Machine(std::string("MEMO accepted=") + (answer ? "1" : "0") + " from=" + from +
               " port=" + port + " name=\"" + EscapeMachine(name) +
               "\" length=" + std::to_string(length) + " data=\"" + EscapeMachine(text) + "\"");
  // The shown part of a long memo ends on a whole character, not on half of one.
  const std::string shown =
      payload > kShownBytes ? text.substr(0, pb::platform::Cp932FittingLength(text, kShownBytes))
                            : text;
  out->Human("memo from " + (name.empty() ? from : EscapeHuman(name)) + " (" +
             std::to_string(payload) + " bytes): " + EscapeHuman(shown) +
             (payload > kShownBytes ? " ..." : ""));
  if (!problem.empty()) out->Warn(problem);
  g_memos_received.fetch_add(1);
  return answer;
}

}  // namespace pbhost
