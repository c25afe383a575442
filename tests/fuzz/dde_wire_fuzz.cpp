// Bytes from a DDE client: the frame reader fed the stream a growing piece
// at a time, then every execute frame handed to the service's callback.
// Invariants: the reader never claims bytes it was not given and never
// places a body outside them; an execute posts at most one open-document
// event, and only for "open(...)" text, with the path of the text between.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "mgsource/path.h"
#include "mgsource/thread.h"
#include "mgsource/window/wdde.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/winmain.h"
#include "platform/qx_dde.h"

namespace {

std::string PathText(Path p) {
  LStrHandle text = nullptr;
  if (FPathToAZString(p, &text) != kNoErr || !text) return "?";
  std::string s(reinterpret_cast<char*>((*text)->str), size_t((*text)->cnt));
  AZDisposeHandle(reinterpret_cast<UHandle>(text));
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = FuzzStartManagers() && ThInit() == kNoErr && WEventQueueInit(1) == kNoErr;
  FUZZ_CHECK(started);
  WEventSetGate(1);
  const int32 live = FuzzLiveHandles();
  size_t at = 0;
  for (size_t seen = 1; at < size && seen <= size;) {
    uint8_t kind = 0;
    const uint8_t* body = nullptr;
    uint32_t n = 0;
    const int32 used = PlatDdeParseFrame(data + at, seen - at, &kind, &body, &n);
    if (used < 0) break;  // the connection closes
    if (used == 0) {
      ++seen;
      continue;
    }
    FUZZ_CHECK(size_t(used) <= seen - at && body >= data + at && body + n <= data + seen);
    FUZZ_CHECK(size_t(used) == 5 + size_t(n));
    at += size_t(used);
    seen = at + 1;
    if (kind != kPlatDdeFrameExecute) continue;
    const PlatDdeData h = PlatDdeCreateDataHandle(1, body, n);
    const uInt32 answer = DDECallBack(kPlatXtypExecute, 0, 1, 0, 0, h, 0, 0);
    PlatDdeFreeDataHandle(h);
    const std::string text(reinterpret_cast<const char*>(body), strnlen(reinterpret_cast<const char*>(body), n));
    const bool open = text.size() >= 6 && text.compare(0, 5, "open(") == 0 && text.back() == ')';
    int posted = 0;
    WEventRecord e;
    while (WGetNextEvent(&e)) {
      FUZZ_CHECK(e.code == kWEvOpenDocument && open && ++posted == 1);
      const Path p = reinterpret_cast<Path>(uintptr_t(uInt32(e.where)));
      Path want = nullptr;
      const std::string between = text.substr(5, text.size() - 6);
      FUZZ_CHECK(FTextToPath(reinterpret_cast<const uChar*>(between.data()), int32(between.size()), &want) == kNoErr);
      FUZZ_CHECK(PathText(p) == PathText(want));
      FDisposePath(want);
      FDisposePath(p);
    }
    FUZZ_CHECK((answer == kPlatDdeFack) == (posted == 1));
  }
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
