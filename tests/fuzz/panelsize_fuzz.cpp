// Panel objects as a stored panel holds them: their classes, part lists,
// part ids, anchors, attachment flags, bounds, flags, image entries, text
// lists and element words are whatever the file held, once the heap passed
// its checks (words name objects or nothing).  Resizing in the three forms
// and moving every object ends, reads nothing outside a block, makes no
// coordinate from a value that is not finite, and leaves decorations and
// their images where they were told to go.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "controls/ctlsize.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/window/textrec.h"
#include "panel/objimage.h"
#include "panel/objload.h"
#include "panel/objsize.h"
#include "panel/ooffset.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

constexpr int32 kClasses[] = {kClsCosmetic, kClsLabel, kClsMultiCosmetic, kClsBigMultiCosmetic, kClsMultiLabel,
                              kClsBigMultiLabel, kClsDataDisplayObject, kClsBoolean, kClsNumeric, kClsString,
                              kClsArray, kClsCluster, kClsRefNum, kClsRing, kClsSlide, kClsKnob, kClsPicture,
                              kClsGraphChart, kClsListbox, kClsGrouperObject, kClsFPDataController, kClsSelLabel};
constexpr int16 kIds[] = {0, 7, 9, 10, 11, 12, 14, 17, 20, 21, 22, 23, 26, 28, 41, 63, 64, 66};

// The image of the decorations: it checks what it is told and may move
// the new rectangle, as line pictures do.
bool gTold = false;
int32 Picture(int32 message, PictStyleBlock*, PictMessageBlock* b) {
  if (message == 5 && b && b->rect && b->otherRect) {
    gTold = true;
    b->rect->right = int16(b->rect->right | 1);
  }
  return 0;
}

int16 Coordinate(Input& in) {
  const uint8_t k = in.Byte();
  return k < 200 ? int16(k) - 60 : k < 240 ? int16(in.Word()) : int16(k < 248 ? 32767 : -32768);
}

Rect AnyRect(Input& in) { return Rect{Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in)}; }

void SetRectAt(ObjHeap heap, int32 o, int32 at, const Rect& r) {
  if (OHBlockSize(heap, o) >= at + 8) std::memcpy(*heap + o + at, &r, sizeof r);
}

Rect BoundsOf(ObjHeap heap, int32 o) {
  Rect r;
  std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int32 image = 0;
  static bool init = [] {
    if (!FuzzStartPanelManagers()) return false;
    ControlsJoinSizeSlots();
    return ICreateProcImage(reinterpret_cast<ImageProc>(&Picture), 0, &image) == kNoErr;
  }();
  if (!init || size > 2048) return 0;
  Input in{data, size};
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel({tdb::I32()}, &vi);
  if (!heap) return 0;
  std::vector<int32> objects;
  std::vector<TRecord> texts;
  std::vector<UHandle> lists;
  for (int32 k = 1 + in.Byte() % 16; k > 0 && in.n; --k) {
    const int32 cls = kClasses[in.Byte() % (sizeof kClasses / sizeof kClasses[0])];
    const int32 owner = !objects.empty() && in.Byte() < 170 ? objects[in.Byte() % objects.size()] : 0;
    const int16 id = kIds[in.Byte() % (sizeof kIds / sizeof kIds[0])];
    const int32 bytes = ClassRecord(cls)->instanceSize + 4 * (in.Byte() % 12);
    const int32 o = vib::NewObject(heap, cls, bytes, owner, id, int16(in.Byte() % 3));
    if (!o) break;
    SetRectAt(heap, o, kObjBounds, AnyRect(in));
    PutNative16(*heap + o + kObjAnchor, uInt16(kIds[in.Byte() % (sizeof kIds / sizeof kIds[0])]));
    PutNative16(*heap + o + kObjAttach, uInt16(in.Byte() < 128 ? in.Byte() : in.Word()));
    ObjSetWord(heap, o, 0, int32(in.Word() & 0x00670018));
    const int32 kind = ClassRecord(cls)->categoryB == kCatCOSM ? 1 : 0;
    if (kind && bytes >= kObjImage + 4) ObjSetWord(heap, o, kObjImage / 4, in.Byte() & 1 ? kObjImageHeld | image : 0);
    // Image entries and extra rectangles: counts and rectangles from the input.
    if (cls == kClsMultiCosmetic || cls == kClsBigMultiCosmetic) {
      PutNative16(*heap + o + kObjImageCount, uInt16(in.Byte() < 230 ? in.Byte() % 4 : in.Word()));
      PutNative16(*heap + o + kObjImageIndex, uInt16(in.Byte() % 5));
      for (int32 at = kObjImageList; at + 4 <= bytes; at += 4) ObjSetWord(heap, o, at / 4, 0);
      for (int32 at = kObjImageList; cls == kClsBigMultiCosmetic && at + kBigImageEntry <= bytes; at += kBigImageEntry) {
        SetRectAt(heap, o, at, AnyRect(in));
        if (in.Byte() & 1) ObjSetWord(heap, o, (at + kBigImageRef) / 4, kObjImageHeld | image);
      }
    }
    if (cls == kClsBigMultiLabel && bytes >= 52) {
      PutNative16(*heap + o + 48, uInt16(in.Byte() < 230 ? in.Byte() % 4 : in.Word()));
      for (int32 at = 52; at + 16 <= bytes; at += 16) SetRectAt(heap, o, at, AnyRect(in));
    }
    // Label texts and the text lists of multi-labels.
    if ((cls == kClsLabel || cls == kClsMultiLabel || cls == kClsBigMultiLabel || cls == kClsSelLabel) &&
        bytes >= kObjText + 4) {
      uChar chars[12];
      const int32 n = in.Byte() % 12;
      for (int32 i = 0; i < n; ++i) chars[i] = uChar('a' + in.Byte() % 26);
      const Rect view = AnyRect(in);
      TRecord t = TNew(&view, uInt32(in.Byte() % 5) | (in.Byte() & 0x30), chars, n, kAppFont, 0, kTransparentColor);
      if (t) texts.push_back(t);
      ObjSetWord(heap, o, kObjText / 4, int32(uintptr_t(t)));
      if (cls != kClsLabel && cls != kClsSelLabel && bytes >= kObjStringList + 4) {
        const int32 room = in.Byte() % 24;
        UHandle list = AZNewHClr(4 + room);
        if (list) {
          PutNative32(*list, in.Byte() < 230 ? in.Byte() % 4 : in.Word());
          for (int32 i = 4; i < 4 + room; ++i) (*list)[i] = in.Byte() % 10;
          lists.push_back(list);
        }
        ObjSetWord(heap, o, kObjStringList / 4, int32(uintptr_t(list)));
        ObjSetWord(heap, o, 10, int8_t(in.Byte()));
      }
    }
    // Element and attached-object words name objects or nothing.
    if (kind == 0 && cls != kClsFPDataController)
      for (int32 word : {10, 12, 13, 17})
        if (4 * (word + 1) <= bytes) ObjSetWord(heap, o, word, 0);
    if ((cls == kClsArray || cls == kClsRefNum || cls == kClsListbox) && !objects.empty() && in.Byte() & 1)
      ObjSetWord(heap, o, cls == kClsListbox ? 12 : 10, objects[in.Byte() % objects.size()]);
    if (cls == kClsCluster && !objects.empty()) {
      std::vector<int32> elements;
      for (int32 e = in.Byte() % 3; e > 0; --e) elements.push_back(objects[in.Byte() % objects.size()]);
      ObjSetWord(heap, o, 10, vib::NewList(heap, elements));
    }
    if (cls == kClsFPDataController && bytes >= 4 * (kPWDCODisplay + 1))
      ObjSetWord(heap, o, kPWDCODisplay, objects.empty() ? 0 : objects[in.Byte() % objects.size()]);
    objects.push_back(o);
  }
  for (int32 op = in.Byte() % 24; op > 0 && in.n && !objects.empty(); --op) {
    const int32 o = objects[in.Byte() % objects.size()];
    const int32 form = in.Byte() % 4;
    gTold = false;
    int32 err = 0;
    if (form == 0) {
      const Rect to = AnyRect(in);
      const int32 cls = OHBlockClass(heap, o);
      err = OSize(heap, o, &to, 0);
      if (cls == kClsCosmetic && !err) {
        // The decoration takes the rectangle, as its image left it.
        Rect want = to;
        if (gTold) want.right = int16(want.right | 1);
        const Rect got = BoundsOf(heap, o);
        FUZZ_CHECK(std::memcmp(&got, &want, sizeof got) == 0);
      }
    } else if (form == 3) {
      const Point by{int16(int8_t(in.Byte())), int16(int8_t(in.Byte()))};
      const Rect before = BoundsOf(heap, o);
      const bool plain = OHBlockClass(heap, o) == kClsCosmetic;
      err = OOffset(heap, o, by);
      if (plain && !err) {
        const Rect after = BoundsOf(heap, o);
        FUZZ_CHECK(after.top == int16(std::clamp<int32>(before.top + by.v, -32768, 32767)));
        FUZZ_CHECK(after.right == int16(std::clamp<int32>(before.right + by.h, -32768, 32767)));
        FUZZ_CHECK(std::memcmp(&LastOldBounds, &before, sizeof before) == 0);
      }
    } else {
      LastOldBounds = AnyRect(in);
      err = OSize(heap, o, nullptr, form == 1 ? kIds[in.Byte() % (sizeof kIds / sizeof kIds[0])] : 0);
    }
    FUZZ_CHECK(err == 0 || err == kArgErr);
    FUZZ_CHECK(ObjWord(heap, o, 0) & 0x1000 || err || OHBlockClass(heap, o) == kClsFPDataController);
  }
  for (TRecord t : texts) TDispose(t);
  for (UHandle h : lists) AZDisposeHandle(h);
  FuzzDisposePanel(heap, vi);
  return 0;
}
