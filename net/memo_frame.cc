// memo_frame.cc: the growing receive buffer of a memo connection and its completion rule.
#include "net/memo_frame.h"

#include <cstring>
#include <new>

#include "net/byte_order.h"

namespace pb {
bool MemoFrameBuffer::Init() {
  received_ = 0;
  return GrowTo(kMemoInitialBuffer);
}

bool MemoFrameBuffer::GrowTo(size_t capacity) {
  std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[capacity]);
  if (!bigger) return false;
  if (received_ > 0) memcpy(bigger.get(), data_.get(), received_);
  memset(bigger.get() + received_, 0, capacity - received_);
  data_ = std::move(bigger);
  capacity_ = capacity;
  return true;
}

bool MemoFrameBuffer::Reserve(size_t available) {
  if (!data_ && !Init()) return false;
  const size_t needed = received_ + available + kZeroTail;
  if (needed < received_) return false;  // overflow
  if (needed <= capacity_) return true;
  size_t target = needed + kMemoGrowthSlack;
  if (target < capacity_ * 2) target = capacity_ * 2;
  return GrowTo(target);
}

void MemoFrameBuffer::Commit(size_t count) {
  received_ += count <= room() ? count : room();
}

bool MemoFrameBuffer::Append(const uint8_t* bytes, size_t count) {
  if (!Reserve(count)) return false;
  memcpy(tail(), bytes, count);
  Commit(count);
  return true;
}

int32_t MemoFrameBuffer::LengthField() const {
  return received_ >= 4 ? ReadLe32Signed(data_.get()) : 0;
}

bool MemoFrameBuffer::Complete() const {
  if (received_ < 4) return false;
  const int32_t length = LengthField();
  return length < 0 || static_cast<size_t>(length) <= received_;
}

}  // namespace pb
