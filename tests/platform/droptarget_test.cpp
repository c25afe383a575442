#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/qx_com.h"
#include "platform/qx_display.h"
#include "platform/qx_drop.h"
#include "platform/qx_droptarget.h"

namespace {

// A target that only counts; its count is checked after every drag.
class CountingTarget final : public PlatDropTarget {
 public:
  PlatOleResult QueryInterface(uint32_t, void** out) override {
    *out = nullptr;
    return kPlatOleNoInterface;
  }
  uint32_t AddRef() override { return ++refs; }
  uint32_t Release() override { return --refs; }
  PlatOleResult DragEnter(PlatDataObject*, uint32_t, PlatScreenPoint, uint32_t*) override { return kPlatOleOk; }
  PlatOleResult DragOver(uint32_t, PlatScreenPoint, uint32_t*) override { return kPlatOleOk; }
  PlatOleResult DragLeave() override { return kPlatOleOk; }
  PlatOleResult Drop(PlatDataObject*, uint32_t, PlatScreenPoint, uint32_t*) override { return kPlatOleOk; }
  std::atomic<uint32_t> refs{0};
};

PlatGlobal Block(const std::string& bytes) {
  const PlatGlobal g = PlatGlobalAlloc(kPlatGlobalFixed, uint32_t(bytes.size()));
  std::memcpy(PlatGlobalLock(g), bytes.data(), bytes.size());
  return g;
}

}  // namespace

// File-list blocks come from other programs: offsets, terminators and
// the end of the block bound every read.
TEST(PlatformDropTarget, FileListBlocksAreReadWithinTheirBounds) {
  const std::string off4("\x04\0\0\0", 4), off6("\x06\0\0\0", 4);
  const struct {
    std::string bytes;
    uint32_t count;
    std::string second;  // name 1, cut to a 4-byte buffer
  } rows[] = {
      {off4 + std::string("a\0bcdef\0\0", 9), 2, "bcd"},
      {off4 + std::string("a\0bc", 4), 2, "bc"},     // the end cuts the last name
      {off6 + std::string("a\0bc\0x\0\0", 8), 2, "x"},  // names start at the offset
      {std::string("\xF0\0\0\0a\0b\0", 8), 0, ""},  // offset past the end
      {std::string("\x02\0\0\0a\0b\0", 8), 0, ""},  // offset inside itself
      {std::string("\x04\0", 2), 0, ""},
      {off4 + std::string("\0a\0", 3), 0, ""},
  };
  for (const auto& row : rows) {
    const PlatGlobal g = Block(row.bytes);
    char buf[4] = {'?', '?', '?', '?'};
    EXPECT_EQ(PlatFileListQuery(g, kPlatDropCount, nullptr, 0), row.count) << row.bytes;
    EXPECT_EQ(PlatFileListQuery(g, 1, buf, sizeof buf), row.second.size()) << row.bytes;
    if (row.count > 1) { EXPECT_EQ(std::string(buf), row.second); }
    EXPECT_EQ(PlatFileListQuery(g, row.count, buf, sizeof buf), 0u);
    PlatGlobalFree(g);
  }
  EXPECT_EQ(PlatFileListQuery(0, kPlatDropCount, nullptr, 0), 0u);
}

// Names asked for in order go on from the last one read; any other order
// still reads the right name.
TEST(PlatformDropTarget, FileListNamesReadInAnyOrder) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < 3000; ++i) names.push_back("name" + std::to_string(i));
  const PlatGlobal g = PlatFileListBlock(names);
  char buf[32];
  for (uint32_t i : {0u, 1u, 2u, 2999u, 17u, 18u, 0u, 1500u}) {
    ASSERT_EQ(PlatFileListQuery(g, i, buf, sizeof buf), names[i].size());
    EXPECT_EQ(std::string(buf), names[i]);
  }
  PlatGlobalFree(g);
}

TEST(PlatformDropTarget, RegistrationNeedsOleAWindowAndOneTargetEach) {
  ASSERT_TRUE(PlatWindowSystemStart());
  const PlatWindow w = PlatCreateWindow(nullptr, "t", 0, 0, PlatRect{0, 0, 10, 10}, 0);
  CountingTarget t;
  EXPECT_EQ(PlatRegisterDropTarget(w, &t), kPlatOleNotInitialized);
  std::thread([] {
    PlatComInit(true);
    EXPECT_EQ(PlatOleInit(), kPlatOleChangedMode);
    PlatComUninit();
  }).join();
  EXPECT_EQ(PlatOleInit(), kPlatOleOk);
  EXPECT_EQ(PlatOleInit(), kPlatOleFalse);
  EXPECT_EQ(PlatRegisterDropTarget(w, nullptr), kPlatOleInvalidArg);
  EXPECT_EQ(PlatRegisterDropTarget(w + 1000, &t), kPlatOleInvalidWindow);
  EXPECT_EQ(PlatRegisterDropTarget(w, &t), kPlatOleOk);
  EXPECT_EQ(PlatRegisterDropTarget(w, &t), kPlatOleAlreadyRegistered);
  EXPECT_EQ(t.refs, 1u);
  EXPECT_EQ(PlatLockObjectExternal(&t, true), kPlatOleOk);
  EXPECT_EQ(PlatLockObjectExternal(&t, false), kPlatOleOk);
  EXPECT_EQ(PlatLockObjectExternal(&t, false), kPlatOleInvalidArg);
  EXPECT_EQ(PlatRevokeDropTarget(w), kPlatOleOk);
  EXPECT_EQ(PlatRevokeDropTarget(w), kPlatOleNotRegistered);
  // A window destroyed unrevoked gives its target up at the next registration.
  EXPECT_EQ(PlatRegisterDropTarget(w, &t), kPlatOleOk);
  PlatDestroyWindow(w);
  EXPECT_EQ(PlatDropTargetOf(w), nullptr);
  const PlatWindow other = PlatCreateWindow(nullptr, "u", 0, 0, PlatRect{0, 0, 10, 10}, 0);
  CountingTarget u;
  EXPECT_EQ(PlatRegisterDropTarget(other, &u), kPlatOleOk);
  EXPECT_EQ(t.refs, 0u);
  EXPECT_EQ(PlatRevokeDropTarget(other), kPlatOleOk);
  PlatDestroyWindow(other);
  PlatOleUninit();
  PlatOleUninit();
  EXPECT_EQ(PlatOleStartCount(), 0);
  EXPECT_EQ(PlatComInitCount(), 0);
}

// A lookup holds its own reference: a revoke on another thread never takes
// the target away from under it.
TEST(PlatformDropTarget, ConcurrentLookupsAndRevokesKeepTheTargetCounted) {
  ASSERT_TRUE(PlatWindowSystemStart());
  const PlatWindow w = PlatCreateWindow(nullptr, "t", 0, 0, PlatRect{0, 0, 10, 10}, 0);
  ASSERT_EQ(PlatOleInit(), kPlatOleOk);
  CountingTarget t;
  const int rounds = getenv("QX_UNDER_VALGRIND") ? 200 : 5000;
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop)
      if (PlatDropTarget* p = PlatDropTargetOf(w)) {
        EXPECT_GE(p->AddRef(), 2u);
        p->Release();
        p->Release();
      }
  });
  for (int i = 0; i < rounds; ++i) {
    PlatRegisterDropTarget(w, &t);
    PlatRevokeDropTarget(w);
  }
  stop = true;
  reader.join();
  EXPECT_EQ(t.refs, 0u);
  PlatDestroyWindow(w);
  PlatOleUninit();
}
