// memo_frame.cc: the growing receive buffer of a memo connection and its completion rule.
#include "wire/memo_frame.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "wire/byte_order.h"

namespace pb {
namespace {

// The one large block kept between memos; never freed at exit, since a connection thread may
// still end then.
std::mutex g_kept_mutex;
uint8_t* g_kept = nullptr;
size_t g_kept_capacity = 0;

}  // namespace

MemoFrameBuffer::~MemoFrameBuffer() {
  if (!data_ || capacity_ < kKeepFrom || capacity_ > kKeepAtMost) return;
  uint8_t* spare = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_kept_mutex);
    if (g_kept_capacity >= capacity_) return;  // the kept one is larger: this one is freed
    spare = g_kept;
    g_kept = data_.release();
    g_kept_capacity = capacity_;
  }
  std::free(spare);
}

void MemoFrameBuffer::ReleaseKept() {
  uint8_t* spare = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_kept_mutex);
    spare = g_kept;
    g_kept = nullptr;
    g_kept_capacity = 0;
  }
  std::free(spare);
}

size_t MemoFrameBuffer::KeptCapacity() {
  std::lock_guard<std::mutex> lock(g_kept_mutex);
  return g_kept_capacity;
}

// Moves the received bytes into the kept block when it holds capacity bytes; false when there
// is no such block.
bool MemoFrameBuffer::TakeKept(size_t capacity) {
  uint8_t* kept = nullptr;
  size_t kept_capacity = 0;
  {
    std::lock_guard<std::mutex> lock(g_kept_mutex);
    if (g_kept == nullptr || g_kept_capacity < capacity) return false;
    kept = g_kept;
    kept_capacity = g_kept_capacity;
    g_kept = nullptr;
    g_kept_capacity = 0;
  }
  if (received_ > 0) memcpy(kept, data_.get(), received_);
  data_.reset(kept);
  capacity_ = kept_capacity;
  ClearTail();
  return true;
}

bool MemoFrameBuffer::Init() {
  received_ = 0;
  return GrowTo(kMemoInitialBuffer);
}

void MemoFrameBuffer::Free::operator()(uint8_t* p) const { std::free(p); }

bool MemoFrameBuffer::GrowTo(size_t capacity) {
  // realloc keeps the bytes received so far; a large block grows by remapping its pages, so a
  // large memo is not copied again at every growth, and room not yet received is never
  // touched. Nothing reads behind the received bytes but the host's view of the zero tail, so
  // only the tail is cleared (here and at every Commit).
  uint8_t* bigger = static_cast<uint8_t*>(std::realloc(data_.get(), capacity));
  if (bigger == nullptr) return false;  // the old block is still valid and still held
  static_cast<void>(data_.release());
  data_.reset(bigger);
  capacity_ = capacity;
  ClearTail();
  return true;
}

void MemoFrameBuffer::ClearTail() {
  const size_t end = received_ + kZeroTail < capacity_ ? received_ + kZeroTail : capacity_;
  if (end > received_) memset(data_.get() + received_, 0, end - received_);
}

bool MemoFrameBuffer::Reserve(size_t available) {
  if (!data_ && !Init()) return false;
  const size_t needed = received_ + available + kZeroTail;
  if (needed < received_) return false;  // overflow
  if (needed <= capacity_) return true;
  size_t target = needed + kMemoGrowthSlack;
  if (target < capacity_ * 2) target = capacity_ * 2;
  if (target >= kKeepFrom && TakeKept(target)) return true;
  return GrowTo(target);
}

void MemoFrameBuffer::Commit(size_t count) {
  received_ += count <= room() ? count : room();
  ClearTail();
}

void MemoFrameBuffer::CommitZeros(size_t count) {
  const size_t n = count <= room() ? count : room();
  if (n > 0) memset(tail(), 0, n);
  Commit(n);
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
