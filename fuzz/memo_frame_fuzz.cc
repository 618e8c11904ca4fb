// memo_frame_fuzz.cc: one memo frame assembled from an arbitrary byte stream cut into arbitrary
// segments, the way the connection thread reserves, receives and commits.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "wire/byte_order.h"
#include "wire/memo_frame.h"

namespace {

using pb::MemoFrameBuffer;
using pb::fuzz::Input;

// What the buffer must hold at every step: exactly the stream's bytes received so far, and at
// least 4 zero bytes behind them.
void CheckState(const MemoFrameBuffer& frame, const std::vector<uint8_t>& model) {
  PB_FUZZ_CHECK(frame.received() == model.size());
  PB_FUZZ_CHECK(frame.capacity() >= frame.received() + MemoFrameBuffer::kZeroTail);
  const uint8_t* base = frame.payload() - 4;
  if (!model.empty()) PB_FUZZ_CHECK(std::memcmp(base, model.data(), model.size()) == 0);
  for (size_t i = 0; i < MemoFrameBuffer::kZeroTail; ++i) {
    PB_FUZZ_CHECK(base[model.size() + i] == 0);
  }
  // The completion rule, restated from the protocol: 4 bytes in and a length field that is
  // negative or not above the count.
  bool complete = false;
  if (model.size() >= 4) {
    const int32_t length = pb::ReadLe32Signed(model.data());
    complete = length < 0 || static_cast<size_t>(length) <= model.size();
    PB_FUZZ_CHECK(frame.LengthField() == length);
  }
  PB_FUZZ_CHECK(frame.Complete() == complete);
  if (complete && frame.LengthField() >= 0) {
    // The host reads length bytes from the payload: they must lie inside the buffer.
    PB_FUZZ_CHECK(4 + static_cast<size_t>(frame.LengthField()) <= frame.capacity());
  }
}

}  // namespace

// Input: a header byte count h, then h bytes of segment descriptions (3 bytes each: the
// announced count as 16 bits and a mode byte), then the stream. Modes: the receive takes the
// whole announcement, a part of it, or fails with WSAEMSGSIZE (the announced count is counted
// as received without bytes being written).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const std::string header = in.Bytes(in.Byte());
  Input seg(reinterpret_cast<const uint8_t*>(header.data()), header.size());
  const std::string stream = in.Rest();

  MemoFrameBuffer frame;
  if (!frame.Init()) return 0;
  std::vector<uint8_t> model;
  CheckState(frame, model);
  size_t pos = 0;
  int idle = 0;
  while (!frame.Complete() && idle < 64) {
    size_t announced;
    uint8_t mode;
    if (!seg.empty()) {
      announced = seg.U16();
      mode = seg.Byte();
    } else {
      announced = stream.size() - pos;  // the rest at once
      mode = 0;
    }
    if (mode % 4 != 3 && announced > stream.size() - pos) announced = stream.size() - pos;
    if (announced == 0 && pos == stream.size()) break;  // the caller sends nothing more
    PB_FUZZ_CHECK(frame.Reserve(announced));
    PB_FUZZ_CHECK(frame.room() >= announced);
    if (mode % 4 == 3) {
      // WSAEMSGSIZE: nothing written, the announced count taken as received, as zeros.
      frame.CommitZeros(announced);
      model.insert(model.end(), announced, 0);
    } else {
      size_t got = announced;
      if (mode % 4 == 1 && announced > 0) got = mode / 4 % announced;  // a short receive
      if (got > 0) std::memcpy(frame.tail(), stream.data() + pos, got);
      frame.Commit(got);
      model.insert(model.end(), stream.begin() + static_cast<long>(pos),
                   stream.begin() + static_cast<long>(pos + got));
      pos += got;
      idle = got == 0 ? idle + 1 : 0;
    }
    CheckState(frame, model);
  }
  if (frame.Complete() && frame.LengthField() >= 0) {
    // Read every byte the host may read, so that AddressSanitizer sees any that is not ours.
    volatile uint8_t sum = 0;
    const uint8_t* p = frame.payload();
    for (int32_t i = 0; i < frame.LengthField(); ++i) sum = sum + p[i];
    (void)sum;
  }
  return 0;
}
