#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/qx_dynlib.h"
#include "platform/qx_portio.h"
#include "platform/qx_vmem.h"

namespace {

// A valid header of a 32-bit little-endian i386 shared object.
std::vector<uint8_t> GoodHeader() {
  std::vector<uint8_t> h(52, 0);
  const uint8_t ident[] = {0x7F, 'E', 'L', 'F', 1, 1, 1};
  std::memcpy(h.data(), ident, sizeof ident);
  h[16] = 3;  // ET_DYN
  h[18] = 3;  // EM_386
  return h;
}

}  // namespace

TEST(PlatformDynLib, ElfHeaderCheckTakesOnlyI386SharedObjects) {
  EXPECT_EQ(PlatLibCheckElfHeader(GoodHeader().data(), 52), kPlatLibOK);
  struct Case {
    const char* what;
    size_t at;
    uint8_t value;
  } cases[] = {
      {"magic", 0, 0x7E},         {"magic E", 1, 'e'},        {"magic F", 3, 'G'},
      {"64-bit class", 4, 2},     {"no class", 4, 0},         {"big-endian", 5, 2},
      {"an executable", 16, 2},   {"a relocatable file", 16, 1}, {"type high byte", 17, 1},
      {"x86-64", 18, 62},         {"machine high byte", 19, 1}, {"ARM", 18, 40},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> h = GoodHeader();
    h[c.at] = c.value;
    EXPECT_EQ(PlatLibCheckElfHeader(h.data(), h.size()), kPlatLibBadFormat) << c.what;
  }
  std::vector<uint8_t> h = GoodHeader();
  for (size_t n : {0u, 4u, 20u, 51u}) EXPECT_EQ(PlatLibCheckElfHeader(h.data(), n), kPlatLibBadFormat) << n;
  EXPECT_EQ(PlatLibCheckElfHeader(nullptr, 52), kPlatLibBadFormat);
  h[7] = 9;  // the ABI byte and the padding do not matter
  h[40] = 0xFF;
  EXPECT_EQ(PlatLibCheckElfHeader(h.data(), h.size()), kPlatLibOK);
}

TEST(PlatformDynLib, ProgramAndMissingLibraries) {
  std::string message;
  void* self = PlatLibProgram(&message);
  ASSERT_NE(self, nullptr) << message;
  EXPECT_EQ(PlatLibFind(self, "_inp", &message), reinterpret_cast<void*>(&_inp));
  int32_t status = -1, err = -1;
  EXPECT_EQ(PlatLibOpen("libqx_no_such_library.so", nullptr, &status, &err, &message), nullptr);
  EXPECT_EQ(status, kPlatLibNotFound);
  EXPECT_NE(err, 0);
  EXPECT_EQ(PlatLibOpenHostFile("/nonexistent/qx/lib.so", &status, &err, &message), nullptr);
  EXPECT_EQ(status, kPlatLibNotFound);
  EXPECT_EQ(PlatLibOpenHostFile("/proc/self/status", &status, &err, &message), nullptr);
  EXPECT_EQ(status, kPlatLibBadFormat);
  EXPECT_EQ(PlatLibFind(nullptr, "x", &message), nullptr);
}

TEST(PlatformVMem, CodeBlocksAreExecutableZeroedAndCounted) {
  int32_t before = PlatCodeBlocksInUse();
  auto* p = static_cast<uint8_t*>(PlatCodeAlloc(10));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kPlatPageSize, 0u);
  EXPECT_EQ(PlatCodeBlocksInUse(), before + 1);
  for (uint32_t i = 0; i < kPlatPageSize; ++i) ASSERT_EQ(p[i], 0) << i;
  // mov eax, 0x2A; ret
  const uint8_t code[] = {0xB8, 0x2A, 0, 0, 0, 0xC3};
  std::memcpy(p, code, sizeof code);
  EXPECT_EQ(reinterpret_cast<int (*)()>(p)(), 42);
  p[kPlatPageSize - 1] = 7;  // the rounded page is the block's
  PlatCodeFree(p, 10);
  EXPECT_EQ(PlatCodeBlocksInUse(), before);
  EXPECT_EQ(PlatCodeAlloc(0), nullptr);
  PlatFailNextCodeAllocs(1);
  EXPECT_EQ(PlatCodeAlloc(100), nullptr);
  void* q = PlatCodeAlloc(100);
  EXPECT_NE(q, nullptr);
  PlatCodeFree(q, 100);
  EXPECT_EQ(PlatCodeBlocksInUse(), before);
}
