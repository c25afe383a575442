// Tag lists come from external code and diagrams: the list's count, its
// name handles and their lengths are whatever the caller passed.  A list
// that fails its checks answers 1 and leaves the installed list as it was;
// an accepted one is installed name for name.  Nothing is left behind.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "panel/zktag.h"

namespace {

using Input = FuzzReader;

std::vector<std::string> Installed() {
  std::vector<std::string> v;
  UHandle l = TagListHandle();
  const uChar* text = nullptr;
  int32 attrs = 0;
  const int32 n = TagListItem(nullptr, 0, l, &text, &attrs, -1);
  for (int32 i = 0; i < n; ++i) {
    const int32 len = TagListItem(nullptr, 0, l, &text, &attrs, i);
    v.emplace_back(reinterpret_cast<const char*>(text), size_t(len));
  }
  return v;
}

void FuzzTagList(Input& in) {
  // A pool of real names (one freed), then a list whose words come from
  // the input: pool entries by selector or raw words.
  std::vector<UHandle> pool;
  for (int i = 0; i < 4; ++i) {
    const int32 len = in.Byte() % 12;
    UHandle h = DSNewHandle(4 + len + in.Byte() % 4);
    if (!h) break;
    reinterpret_cast<LStr*>(*h)->cnt = in.Byte() < 240 ? len : int32(in.Word());
    for (int32 k = 0; k < len; ++k) (*h)[4 + k] = in.Byte();
    pool.push_back(h);
  }
  UHandle freed = DSNewHandle(8);
  if (freed) DSDisposeHandle(freed);
  const int32 size = 4 + in.Byte() % 40;
  UHandle list = DSNewHClr(size);
  if (list) {
    PutNative32(*list, in.Byte() < 200 ? uInt32(in.Byte() % 10) : in.Word());
    for (int32 at = 4; at + 5 <= size; at += 5) {
      const uint8_t sel = in.Byte();
      UHandle name = sel < 4 && size_t(sel) < pool.size() ? pool[sel] : sel < 8 ? freed : nullptr;
      PutNative32(*list + at, sel < 8 ? uInt32(uintptr_t(name)) : in.Word());
      (*list)[at + 4] = in.Byte();
    }
    const std::vector<std::string> before = Installed();
    const MgErr err = InstallTagList(list);
    FUZZ_CHECK(err == kNoErr || err == kArgErr);
    const std::vector<std::string> after = Installed();
    if (err) {
      FUZZ_CHECK(after == before);
    } else {
      const int32 n = int32(GetNative32(*list));
      FUZZ_CHECK(int32(after.size()) == n);
      for (int32 i = 0; i < n; ++i) {
        LStrHandle name = reinterpret_cast<LStrHandle>(uintptr_t(GetNative32(*list + 4 + 5 * i)));
        FUZZ_CHECK(after[size_t(i)] == std::string(reinterpret_cast<const char*>((*name)->str), size_t((*name)->cnt)));
        FUZZ_CHECK(StringInTagList(name) == 1);
      }
    }
    DSDisposeHandle(list);
  }
  for (UHandle h : pool) DSDisposeHandle(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] { return FuzzStartManagers(FuzzAbortWhenArmed) && InitTagLists() == kNoErr; }();
  if (!init || size > 4096) return 0;
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  FuzzArmed() = true;
  FuzzTagList(in);
  FuzzArmed() = false;
  // The installed list's own handles come and go with its length.
  FUZZ_CHECK(InstallTagList(nullptr) == kNoErr);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
