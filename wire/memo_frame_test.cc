// memo_frame_test.cc: the memo frame's completion rule, growth and the zero bytes behind it.
#include "wire/memo_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "wire/byte_order.h"

namespace pb {
namespace {

std::vector<uint8_t> Frame(int32_t length, size_t payload) {
  std::vector<uint8_t> bytes(4 + payload, 0xAB);
  WriteLe32Signed(bytes.data(), length);
  return bytes;
}

bool ZerosBehind(const MemoFrameBuffer& f, size_t count) {
  const uint8_t* end = f.payload() - 4 + f.received();
  for (size_t i = 0; i < count; ++i) {
    if (end[i] != 0) return false;
  }
  return true;
}

TEST(MemoFrameTest, EmptyPayloadCompletesAtEightBytes) {
  MemoFrameBuffer f;
  ASSERT_TRUE(f.Init());
  const std::vector<uint8_t> frame = Frame(8, 4);
  ASSERT_TRUE(f.Append(frame.data(), 7));
  EXPECT_FALSE(f.Complete());
  ASSERT_TRUE(f.Append(frame.data() + 7, 1));
  EXPECT_TRUE(f.Complete());
  EXPECT_EQ(f.LengthField(), 8);
  // The host reads length bytes from the payload: 4 trailer bytes and 4 zero bytes.
  EXPECT_TRUE(ZerosBehind(f, 4));
}

TEST(MemoFrameTest, CompletesOnlyWhenTheLengthHasArrivedInAnySegmentation) {
  const std::vector<uint8_t> frame = Frame(1000, 996);
  for (size_t step : {1u, 3u, 4u, 7u, 511u, 999u}) {
    MemoFrameBuffer f;
    ASSERT_TRUE(f.Init());
    size_t fed = 0;
    while (fed < frame.size()) {
      EXPECT_FALSE(f.Complete()) << "step " << step << " fed " << fed;
      const size_t n = std::min(step, frame.size() - fed);
      ASSERT_TRUE(f.Append(frame.data() + fed, n));
      fed += n;
    }
    EXPECT_TRUE(f.Complete());
    EXPECT_EQ(memcmp(f.payload(), frame.data() + 4, 996), 0);
    EXPECT_TRUE(ZerosBehind(f, 4));
  }
}

TEST(MemoFrameTest, GrowsByTheAnnouncedAmountPlusSlack) {
  MemoFrameBuffer f;
  ASSERT_TRUE(f.Init());
  EXPECT_EQ(f.capacity(), 512u);
  const std::vector<uint8_t> frame = Frame(600, 596);
  ASSERT_TRUE(f.Append(frame.data(), frame.size()));
  EXPECT_GE(f.capacity(), 600u + 128u);
  EXPECT_TRUE(f.Complete());
  EXPECT_TRUE(ZerosBehind(f, 4));
}

TEST(MemoFrameTest, GrowthIsGeometricForLargeMemos) {
  MemoFrameBuffer f;
  ASSERT_TRUE(f.Init());
  std::vector<uint8_t> chunk(1000, 0x5A);
  size_t grows = 0;
  size_t capacity = f.capacity();
  for (int i = 0; i < 4000; ++i) {
    ASSERT_TRUE(f.Append(chunk.data(), chunk.size()));
    if (f.capacity() != capacity) {
      ++grows;
      capacity = f.capacity();
    }
  }
  EXPECT_LT(grows, 20u) << "4 MB in 1000-byte pieces must not reallocate per piece";
  EXPECT_TRUE(ZerosBehind(f, 4));
}

TEST(MemoFrameTest, ShortAndNegativeLengthsCompleteAtFourBytes) {
  for (int32_t length : {0, 3, -1, INT32_MIN}) {
    MemoFrameBuffer f;
    ASSERT_TRUE(f.Init());
    const std::vector<uint8_t> frame = Frame(length, 0);
    ASSERT_TRUE(f.Append(frame.data(), 3));
    EXPECT_FALSE(f.Complete());
    ASSERT_TRUE(f.Append(frame.data() + 3, 1));
    EXPECT_TRUE(f.Complete()) << length;
    EXPECT_EQ(f.LengthField(), length);
    EXPECT_TRUE(ZerosBehind(f, 4));
  }
}

TEST(MemoFrameTest, BytesBeyondTheLengthAreKeptButIgnored) {
  MemoFrameBuffer f;
  ASSERT_TRUE(f.Init());
  std::vector<uint8_t> frame = Frame(8, 8);
  ASSERT_TRUE(f.Append(frame.data(), frame.size()));
  EXPECT_TRUE(f.Complete());
  EXPECT_EQ(f.LengthField(), 8);
  EXPECT_EQ(f.received(), 12u);
}

// A receive that fails with WSAEMSGSIZE still counts the announced bytes. They were never
// written, and the room behind the received bytes is not cleared when the buffer grows, so
// they must read as zero rather than as whatever the heap held there (stood in for by 0xEE).
TEST(MemoFrameTest, BytesCountedWithoutAReceiveReadAsZero) {
  MemoFrameBuffer f;
  ASSERT_TRUE(f.Init());
  const std::vector<uint8_t> head = Frame(2000, 596);
  ASSERT_TRUE(f.Append(head.data(), head.size()));
  ASSERT_TRUE(f.Reserve(1000));
  memset(f.tail(), 0xEE, f.room());
  f.CommitZeros(1000);
  EXPECT_EQ(f.received(), 1600u);
  for (size_t i = 600; i < 1600; ++i) ASSERT_EQ(f.payload()[i - 4], 0) << i;
  EXPECT_TRUE(ZerosBehind(f, 4));
  EXPECT_EQ(memcmp(f.payload() - 4, head.data(), head.size()), 0);
}

// A large buffer outlives its memo for the next large one, which takes it over with the bytes
// it had already received; small memos neither take it nor are kept.
TEST(MemoFrameTest, LargeBufferIsKeptForTheNextLargeMemo) {
  MemoFrameBuffer::ReleaseKept();
  const size_t large = 3 * MemoFrameBuffer::kKeepFrom;
  const std::vector<uint8_t> frame = Frame(static_cast<int32_t>(large), large - 4);
  size_t kept = 0;
  {
    MemoFrameBuffer f;
    ASSERT_TRUE(f.Init());
    ASSERT_TRUE(f.Append(frame.data(), frame.size()));
    kept = f.capacity();
  }
  EXPECT_EQ(MemoFrameBuffer::KeptCapacity(), kept);
  {
    MemoFrameBuffer small;
    ASSERT_TRUE(small.Init());
    const std::vector<uint8_t> bytes = Frame(600, 596);
    ASSERT_TRUE(small.Append(bytes.data(), bytes.size()));
    EXPECT_LT(small.capacity(), MemoFrameBuffer::kKeepFrom);
  }
  EXPECT_EQ(MemoFrameBuffer::KeptCapacity(), kept);

  MemoFrameBuffer f;
  ASSERT_TRUE(f.Init());
  // In pieces, so that the block is taken over with bytes already in.
  const size_t first = MemoFrameBuffer::kKeepFrom / 2 + 3;
  ASSERT_TRUE(f.Append(frame.data(), first));
  ASSERT_TRUE(f.Append(frame.data() + first, frame.size() - first));
  EXPECT_EQ(f.capacity(), kept);
  EXPECT_EQ(MemoFrameBuffer::KeptCapacity(), 0u);
  EXPECT_TRUE(f.Complete());
  EXPECT_EQ(memcmp(f.payload() - 4, frame.data(), frame.size()), 0);
  EXPECT_TRUE(ZerosBehind(f, 4));
  MemoFrameBuffer::ReleaseKept();
}

}  // namespace
}  // namespace pb
