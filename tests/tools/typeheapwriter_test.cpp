// The writer of saved-type heaps: a well-formed object heap in file order.
#include "tools/typeheapwriter.h"

#include <gtest/gtest.h>

#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/objheap.h"

using namespace tdb;

namespace {

class TypeHeapWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool init = MemInit() == kNoErr;
    ASSERT_TRUE(init);
  }
  // The image in a handle, its header and block headers swapped to memory order.
  ObjHeap Load(const thw::Bytes& image) {
    UHandle h = AZNewHandle(int32(image.size()));
    std::memcpy(*h, image.data(), image.size());
    EXPECT_EQ(OHByteSwapHeap(h, nullptr, 0), kNoErr) << "the heap checks out";
    OHLinkHeap(h);
    return h;
  }
};

TEST_F(TypeHeapWriter, BlocksListAndDescriptorsInFileOrder) {
  TD str = String().Named("s");
  thw::Layout layout;
  thw::Bytes image = thw::TypeHeapImage({I32(), std::nullopt, str, I32()}, thw::Options(), &layout);
  ASSERT_EQ(layout.size, image.size());
  ASSERT_EQ(layout.entries.size(), 4u);
  EXPECT_EQ(layout.entries[1], 0u);
  EXPECT_EQ(layout.entries[0], layout.entries[3]) << "equal descriptors are shared";
  EXPECT_EQ(GetNative32(&image[kOHKind]), FourCC("DTHP")) << "the kind is never swapped";
  EXPECT_EQ(std::memcmp(&image[kOHKind], "DTHP", 4), 0) << "stored as it reads";

  ObjHeap h = Load(image);
  EXPECT_EQ(OHWord(h, kOHExtension), layout.extension);
  EXPECT_EQ(OHBlockClass(h, int32(layout.extension)), 126);
  EXPECT_EQ(OHBlockSize(h, int32(layout.extension)), 132);
  EXPECT_EQ(GetBE32(*h + layout.extension + 104), layout.list);
  EXPECT_EQ(OHBlockClass(h, int32(layout.list)), 7);
  EXPECT_EQ(GetBE32(*h + layout.list), 4u);
  for (uInt32 i = 0; i < 4; ++i) EXPECT_EQ(GetBE32(*h + layout.list + 4 + 4 * i), layout.entries[i]);
  thw::Bytes file = str.Bytes(Order::kFile);
  uInt32 s = layout.entries[2];
  EXPECT_EQ(OHBlockClass(h, int32(s)), 131);
  EXPECT_EQ(OHBlockSize(h, int32(s)), int32(file.size()));
  EXPECT_EQ(thw::Bytes(*h + s, *h + s + file.size()), file);
  OHDisposeHeap(h);
}

TEST_F(TypeHeapWriter, SeparateCopiesAndEmptyLists) {
  thw::Options separate;
  separate.shareEqual = false;
  thw::Layout layout;
  thw::TypeHeapImage({DBL(), DBL()}, separate, &layout);
  EXPECT_NE(layout.entries[0], layout.entries[1]);
  thw::Bytes empty = thw::TypeHeapImage({}, thw::Options(), &layout);
  ObjHeap h = Load(empty);
  EXPECT_EQ(GetBE32(*h + layout.list), 0u);
  EXPECT_GE(OHBlockSize(h, int32(layout.list)), 4);
  OHDisposeHeap(h);
  // An odd-length descriptor gets its padding bit.
  thw::Bytes odd = thw::TypeHeapImage({Raw({5, 0, 1, 0, 0})}, thw::Options(), &layout);
  h = Load(odd);
  EXPECT_EQ(OHBlockSize(h, int32(layout.entries[0])), 6);
  OHDisposeHeap(h);
}

}  // namespace
