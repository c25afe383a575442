// The VI window's geometry on panels as files give them: any part flags,
// window options, content rectangle and objects' rectangle through the part
// rectangles, the window-content conversions, the panel bounds and
// VIWindScrollBy.  Invariants: window from content and back is the identity
// whenever the window's edges were not pinned to 16 bits; a part answers 1
// exactly when its rectangle is not empty (else the rectangle is cleared);
// the bounds hold the objects' rectangle (the content when there are none);
// a scroll moves the content by the offset, pinned.
//
// The input: part flags (byte), window options (16 bits), the content's
// top, left, bottom, right and the objects' (16 bits each, most significant
// byte first), then the scroll offset (two 16-bit values).
#include <algorithm>
#include <cstring>

#include "engine/typemgr.h"
#include "fuzz_support.h"
#include "mgsource/objheap.h"
#include "shell/viwindow.h"

namespace {

constexpr int32 kExt = 16;
Rect gObjects;

int16 Half(FuzzReader& in) {
  const uint16_t hi = in.Byte();
  return int16(uint16_t(hi << 8 | in.Byte()));
}
Rect RectOf(FuzzReader& in) {
  Rect r;
  r.top = Half(in);
  r.left = Half(in);
  r.bottom = Half(in);
  r.right = Half(in);
  return r;
}
bool Same(const Rect& a, const Rect& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool Empty(const Rect& r) { return r.bottom <= r.top || r.right <= r.left; }
bool Pinned(int16 v) { return v == -32768 || v == 32767; }
int16 Pin(int32 v) { return int16(std::clamp(v, -32768, 32767)); }

void CheckPart(int32 answer, const Rect& r) {
  FUZZ_CHECK(answer == !Empty(r));
  if (!answer) FUZZ_CHECK(Same(r, Rect{0, 0, 0, 0}));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = FuzzStartManagers();
  FUZZ_CHECK(started);
  FuzzReader in{data, size};
  const int32 parts = in.Byte() & 31;
  const uInt16 options = uInt16(in.Byte() << 8 | in.Byte());
  const Rect c = RectOf(in);
  gObjects = RectOf(in);
  const int32 dh = Half(in), dv = Half(in);

  Rect w, back;
  VIWindContentToWindow(parts, &c, &w);
  VIWindWindowToContent(0, parts, &w, &back);
  if (!Pinned(w.top) && !Pinned(w.bottom) && !Pinned(w.right)) FUZZ_CHECK(Same(back, c));

  // A heap of another kind than a front panel's: only its extension is read.
  UHandle h = AZNewHClr(kExt + kHeapExtensionSize);
  if (!h) return 0;
  ObjHeap heap = reinterpret_cast<ObjHeap>(h);
  OHSetWord(heap, kOHKind, FourCC("FZHP"));
  OHSetWord(heap, kOHExtension, kExt);
  OHSetWord(heap, kOHFlags, kPanelBoundsStale);
  OHSetWord(heap, kExt + kHeapExtRoot, 4);
  std::memcpy(*h + kExt + kHeapExtWindowOptions, &parts, 2);
  std::memcpy(*h + kExt + kHeapExtWindowStyle, &options, 2);
  std::memcpy(*h + kExt + kHeapExtContentRect, &c, sizeof c);

  Rect r, icon;
  CheckPart(VIWindStatePanelRect(heap, &r), r);
  CheckPart(VIWindMenuBarRect(heap, &r), r);
  CheckPart(VIWindHScrollRect(heap, &r), r);
  CheckPart(VIWindVScrollRect(heap, &r), r);
  CheckPart(VIWindGrowBoxRect(heap, &r), r);
  FUZZ_CHECK(VIWindIconPaneRect(heap, &r, &icon) == ((parts & kVIWindIconPane) != 0));

  VIWindHooks hooks{};
  hooks.objectRect = [](ObjHeap, int32, Rect* rect, int32) -> int32 {
    *rect = gObjects;
    return 0;
  };
  const VIWindHooks former = VIWindSetHooks(hooks);
  const Rect* b = PanelGetBounds(heap);
  FUZZ_CHECK(b != nullptr);
  if (Empty(gObjects)) {
    FUZZ_CHECK(Same(*b, c));
  } else {
    FUZZ_CHECK(b->top <= gObjects.top && b->left <= gObjects.left && b->bottom >= gObjects.bottom &&
               b->right >= gObjects.right);
  }
  FUZZ_CHECK(!(OHWord(heap, kOHFlags) & kPanelBoundsStale));
  VIWindSetHooks(former);

  VIWindScrollBy(heap, dh, dv);
  Rect moved;
  std::memcpy(&moved, *h + kExt + kHeapExtContentRect, sizeof moved);
  const Rect expected{Pin(c.top + dv), Pin(c.left + dh), Pin(c.bottom + dv), Pin(c.right + dh)};
  FUZZ_CHECK(Same(moved, expected));
  AZDisposeHandle(h);
  return 0;
}
