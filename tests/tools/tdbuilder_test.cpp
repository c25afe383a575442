// The type-descriptor builder: layouts in memory order, file order and the
// word form, sizes and names.
#include "tools/tdbuilder.h"

#include <gtest/gtest.h>

using namespace tdb;

namespace {

using Bytes = std::vector<uChar>;

TEST(TDBuilder, MemoryAndFileOrder) {
  tdb::TD t = Cluster({I16(), String(TDFixed(3)).Named("ab")});
  EXPECT_EQ(t.Bytes(), (Bytes{22, 0, 0x50, 0, 2, 0,                       // cluster of 2
                              4, 0, 0x02, 0,                             // I16
                              12, 0, 0x30, 0x40, 3, 0, 0, 0x80, 2, 'a', 'b', 0}));
  // File order: every 16- and 32-bit field big-endian, the flags byte first
  // in the code word, names as they are.
  EXPECT_EQ(t.Bytes(Order::kFile), (Bytes{0, 22, 0, 0x50, 0, 2,
                                           0, 4, 0, 0x02,
                                           0, 12, 0x40, 0x30, 0x80, 0, 0, 3, 2, 'a', 'b', 0}));
  // The word form: host-order words of the file form.
  EXPECT_EQ(t.Bytes(Order::kWord), (Bytes{22, 0, 0x50, 0, 2, 0,
                                           4, 0, 0x02, 0,
                                           12, 0, 0x30, 0x40, 0, 0x80, 3, 0, 'a', 2, 0, 'b'}));
  EXPECT_EQ(t.Length(), 22);
}

TEST(TDBuilder, NamesItemsAndPads) {
  EXPECT_EQ(I8().Named("abc").Bytes(), (Bytes{8, 0, 0x01, 0x40, 3, 'a', 'b', 'c'}));
  EXPECT_EQ(I8().Named("ab", 0x5A).Bytes(), (Bytes{8, 0, 0x01, 0x40, 2, 'a', 'b', 0x5A}));
  EXPECT_EQ(Enum(kTDEnumU8, {"a", "bc"}).Bytes(), (Bytes{12, 0, 0x15, 0, 2, 0, 1, 'a', 2, 'b', 'c', 0}));
  EXPECT_EQ(Typedef("t", U8(), 9).Bytes(), (Bytes{14, 0, 0xF1, 0, 9, 0, 0, 0, 1, 't', 4, 0, 0x05, 0}));
  EXPECT_EQ(NamedRefnum(7, "").Bytes(), (Bytes{8, 0, 0x70, 0, 7, 0, 0, 0}));
  EXPECT_EQ(ObjectRefnum(U8()).Bytes(), (Bytes{12, 0, 0x70, 0, 8, 0, 2, 0, 4, 0, 0x05, 0}));
  EXPECT_EQ(Function(1, {0x1100}, {U8()}).Bytes(), (Bytes{14, 0, 0xF0, 0, 1, 0, 1, 0, 0, 0x11, 4, 0, 0x05, 0}));
  EXPECT_EQ(I32().WithFlags(0x10).Bytes(), (Bytes{4, 0, 0x03, 0x10}));
}

TEST(TDBuilder, SizesBeyondSixteenBitsAndOverrides) {
  tdb::TD big = Cluster(std::vector<tdb::TD>(20000, I32()));
  Bytes b = big.Bytes();
  EXPECT_EQ(b.size(), 80006u);
  EXPECT_EQ(b[0], 0xFF);
  EXPECT_EQ(b[1], 0xFF);
  EXPECT_EQ(big.Length(), 80006);
  EXPECT_EQ(I32().WithSize(0).Bytes(), (Bytes{0, 0, 0x03, 0}));
  EXPECT_EQ(Raw({1, 2, 3}).Bytes(), (Bytes{1, 2, 3}));
  EXPECT_EQ(Cluster({Raw({6, 0, 0x31, 0, 1, 0})}).Bytes(), (Bytes{12, 0, 0x50, 0, 1, 0, 6, 0, 0x31, 0, 1, 0}));
}

}  // namespace
