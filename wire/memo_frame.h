// memo_frame.h: assembling one memo frame from a byte stream, as the memo connection thread does.
#ifndef PEERBEACON_WIRE_MEMO_FRAME_H_
#define PEERBEACON_WIRE_MEMO_FRAME_H_

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pb {

inline constexpr char kMemoGreeting[] = "Hi,Wren!";  // sent with its NUL: 9 bytes
inline constexpr size_t kMemoGreetingSize = sizeof kMemoGreeting;
inline constexpr size_t kMemoInitialBuffer = 512;
inline constexpr size_t kMemoGrowthSlack = 128;

// The receive buffer of one connection. It holds the bytes received so far from offset 0,
// followed by a zero tail, and grows (at least geometrically, so a large memo is taken in linear
// time) whenever the bytes already received plus the bytes announced exceed it. The frame is
// complete when at least 4 bytes are in and the signed length field at offset 0 is not greater
// than the count; a length below 4, or negative, completes at 4 bytes. The host reads the
// payload at offset 4 and length-field bytes from there, so the buffer always keeps at least 4
// zero bytes behind the last received byte; nothing reads further than that.
//
// A large buffer (kKeepFrom bytes or more, up to kKeepAtMost) is kept for the next large memo
// when the connection ends, one for the whole process: a fresh block costs a page fault per
// page on its first fill, which for a memo of many megabytes is a good part of its time. A
// kept block is taken only when a buffer grows to kKeepFrom or beyond; small memos never
// touch it. The bytes behind the received ones are never read, so what an earlier memo left
// there stays unseen.
class MemoFrameBuffer {
 public:
  static constexpr size_t kZeroTail = 4;
  static constexpr size_t kKeepFrom = size_t{1} << 20;
  static constexpr size_t kKeepAtMost = size_t{128} << 20;

  MemoFrameBuffer() = default;
  ~MemoFrameBuffer();
  MemoFrameBuffer(const MemoFrameBuffer&) = delete;
  MemoFrameBuffer& operator=(const MemoFrameBuffer&) = delete;
  // Frees the kept block (at shutdown); the next large memo allocates afresh.
  static void ReleaseKept();
  // The kept block's capacity, 0 when none is kept.
  static size_t KeptCapacity();

  // False when out of memory (the buffer keeps what it had).
  bool Init();
  // Makes room for available more bytes behind those received; false when out of memory.
  bool Reserve(size_t available);
  // Where the next bytes go; room() bytes fit there and still leave the zero tail.
  uint8_t* tail() { return data_.get() + received_; }
  size_t room() const { return capacity_ - received_ - kZeroTail; }
  // Counts bytes written at tail().
  void Commit(size_t count);
  // Counts count bytes as received that no receive wrote (a receive that failed with
  // WSAEMSGSIZE still counts what was announced): they read as zero. The room behind the
  // received bytes is not cleared when the buffer grows, so committing it unwritten would hand
  // the host whatever the heap held there.
  void CommitZeros(size_t count);
  // Convenience for tests and fuzzers: Reserve + copy + Commit.
  bool Append(const uint8_t* bytes, size_t count);

  bool Complete() const;
  int32_t LengthField() const;
  const uint8_t* payload() const { return data_.get() + 4; }
  size_t received() const { return received_; }
  size_t capacity() const { return capacity_; }

 private:
  bool GrowTo(size_t capacity);
  bool TakeKept(size_t capacity);
  void ClearTail();
  struct Free {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t, Free> data_;
  size_t capacity_ = 0;
  size_t received_ = 0;
};

}  // namespace pb

#endif  // PEERBEACON_WIRE_MEMO_FRAME_H_
