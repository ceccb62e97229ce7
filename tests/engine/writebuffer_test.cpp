// SPDX-License-Identifier: GPL-2.0-or-later
// The connection's write-combining buffer: when its bytes are due, and what stays after a
// partial store.
#include "engine/writebuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/engine/filedata.h"

namespace nsk {
namespace {

struct TDueCase {
  const char* Name;
  std::size_t Capacity;
  std::int64_t Offset;
  std::vector<std::size_t> Packets;  // appended in this order
  std::int64_t Left;                 // the block's remaining length as last seen
  std::size_t Due;
};

TEST(WriteBuffer, BytesAreDueWhenFullAtTheBlocksEndOrWithoutABlock) {
  const TDueCase cases[] = {
      {"nothing buffered", 8192, 0, {}, 100000, 0},
      {"nothing buffered, no block", 8192, 0, {}, 0, 0},
      {"below capacity and block end", 8192, 0, {3000, 3000}, 100000, 0},
      {"exactly the block's rest", 8192, 0, {3000, 2000}, 5000, 5000},
      {"past the block's end: all, the store cuts", 8192, 0, {3000, 3000}, 5000, 6000},
      {"no block known: at once", 8192, 0, {10}, 0, 10},
      {"a block end of the past: at once", 8192, 0, {10}, -5, 10},
      {"full from a page boundary", 8192, 4096, {8192, 100}, 1000000, 8192},
      {"full from inside a page: up to the last boundary", 8192, 1000, {4096, 4096}, 1000000,
       7192},
      {"full, no page boundary inside: all", 1000, 5000, {600, 600}, 1000000, 1200},
      {"full beats a far block end", 8192, 0, {8192}, 40000, 8192},
      // A split takes the second half of what the books show as left, cut on a chunk
      // boundary: held bytes stay clear of it by a chunk at least.
      {"clear of half the rest", 8192, 0, {800}, 10000, 0},
      {"near half the rest: all", 8192, 0, {1000}, 10000, 1000},
      {"near half the rest, from inside a page: all", 8192, 1000, {3000, 100}, 14000, 3100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TWriteBuffer b(c.Capacity);
    b.Reset(c.Offset);
    const std::string bytes = test::PatternBytes(64 * 1024, 7);
    std::size_t at = 0;
    for (const std::size_t n : c.Packets) {
      b.Append(bytes.data() + at, n);
      at += n;
    }
    EXPECT_EQ(b.Size(), at);
    EXPECT_EQ(b.Due(c.Left), c.Due);
  }
}

TEST(WriteBuffer, APartialStoreKeepsTheRestInOrderAtTheNextOffset) {
  const std::string bytes = test::PatternBytes(40000, 8);
  TWriteBuffer b(8192);
  b.Reset(1000);
  std::size_t at = 0;
  for (const std::size_t n : {5000u, 4000u, 16383u}) {
    b.Append(bytes.data() + at, n);
    at += n;
  }
  ASSERT_EQ(b.Size(), at);
  const std::size_t due = b.Due(1000000);
  // 1000 + 25383 = 26383; the last page boundary is 24576.
  ASSERT_EQ(due, 24576u - 1000u);
  EXPECT_EQ(std::string(b.Data(), due), bytes.substr(0, due));
  b.Consume(due);
  EXPECT_EQ(b.Offset(), 24576);
  EXPECT_EQ(b.Size(), at - due);
  EXPECT_EQ(std::string(b.Data(), b.Size()), bytes.substr(due, at - due));
  // What follows continues the rest.
  b.Append(bytes.data() + at, 100);
  EXPECT_EQ(std::string(b.Data(), b.Size()), bytes.substr(due, at - due + 100));
  // A store that took everything, or a reset, leaves it empty.
  b.Consume(b.Size());
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Due(0), 0u);
  b.Append(bytes.data(), 10);
  b.Reset(0);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Offset(), 0);
}

}  // namespace
}  // namespace nsk
