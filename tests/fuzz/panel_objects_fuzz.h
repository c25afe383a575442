// Panel objects made from fuzz input, as a file may hold them: cosmetics
// and multi-images whose counts, indexes and entries pass their blocks,
// labels and multi-labels whose string lists pass their handles, and display
// objects of every class with parts naming anything, clusters and arrays of
// any grid among them.
#pragma once
#include <cstring>
#include <span>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/textrec.h"
#include "panel/objload.h"
#include "panel/objimage.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel_fuzz_support.h"

namespace fuzzobj {

using Input = FuzzReader;

inline int32 gImage = 0;  // one image the cosmetics may name

inline int16 Small(Input& in) { return int16(int8(in.Byte())); }
inline Rect AnyRect(Input& in) { return Rect{Small(in), Small(in), int16(Small(in) + 48), int16(Small(in) + 48)}; }
inline void SetRect(ObjHeap heap, int32 o, const Rect& r) { std::memcpy(*heap + o + kObjBounds, &r, sizeof r); }
inline int32 NewObj(ObjHeap heap, int32 cls, int32 owner, int16 id = 0, int32 extra = 0) {
  return vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize + extra, owner, id, 0);
}
// An image word: none, the test's image, or anything.
inline uInt32 AnyImage(Input& in) {
  const int32 pick = in.Byte() % 4;
  return pick == 0 ? 0 : pick == 1 ? uInt32(kObjImageHeld | gImage) : pick == 2 ? uInt32(gImage) : in.Word();
}
// A flag word with the bits the drawing reads.
inline uInt32 AnyFlags(Input& in) { return in.Word() & (0x1 | 0x2 | 0x8 | 0x40 | 0x80 | 0x10000 | 0x20000 | 0x40000 | 0x80000 | 0x1000000); }

struct Made {
  std::vector<int32> objects;  // every object made, for the hidden bits
  std::vector<int32> labels;   // every label-like object: its text record is disposed at the end
  std::vector<int32> lists;    // multi-labels: their string lists are disposed at the end
};

// A label of the class with a text record of the input's text.
inline int32 NewLabel(Input& in, ObjHeap heap, int32 cls, int32 owner, int16 id, Made* m) {
  const int32 l = NewObj(heap, cls, owner, id);
  if (!l) return 0;
  SetRect(heap, l, AnyRect(in));
  uChar text[16];
  const int32 n = in.Byte() % 16;
  in.Bytes(text, size_t(n));
  const Rect r = AnyRect(in);
  if (TRecord t = TNew(&r, 0, text, n, kAppFont, in.Word() & 0xFFFFFF, in.Byte() & 1 ? kTransparentColor : in.Word() & 0xFFFFFF))
    ObjSetWord(heap, l, kObjText / 4, int32(uintptr_t(t)));
  ObjSetWord(heap, l, kObjImage / 4, int32(AnyImage(in)));
  m->labels.push_back(l);
  if (cls == kClsMultiLabel || cls == kClsBigMultiLabel) {
    // A string list: a count, then Pascal strings; the count may pass them.
    const int32 size = 4 + in.Byte() % 24;
    if (UHandle list = AZNewHClr(size)) {
      for (int32 i = 0; i < size; ++i) (*list)[i] = in.Byte();
      PutNative32(*list, in.Byte() % 5);
      ObjSetWord(heap, l, kObjStringList / 4, int32(uintptr_t(list)));
      m->lists.push_back(l);
    }
    ObjSetWord(heap, l, 10, int32(Small(in)));
  }
  return l;
}

inline int32 NewCosmetic(Input& in, ObjHeap heap, int32 owner, int16 id, Made* m) {
  const int32 kind = in.Byte() % 3;
  const int32 cls = kind == 0 ? kClsCosmetic : kind == 1 ? kClsMultiCosmetic : kClsBigMultiCosmetic;
  const int32 entries = in.Byte() % 4, entry = kind == 2 ? kBigImageEntry : 4;
  const int32 c = NewObj(heap, cls, owner, id, kind ? entries * entry : 0);
  if (!c) return 0;
  SetRect(heap, c, AnyRect(in));
  ObjSetWord(heap, c, kObjImage / 4, int32(AnyImage(in)));
  ObjSetWord(heap, c, kObjCosmFore / 4, int32(in.Word()));
  ObjSetWord(heap, c, kObjCosmBack / 4, int32(in.Byte() & 1 ? kTransparentColor : in.Word() & 0xFFFFFF));
  if (kind) {
    PutNative16(*heap + c + kObjImageCount, uInt16(in.Byte() & 1 ? entries : Small(in)));
    PutNative16(*heap + c + kObjImageIndex, uInt16(Small(in)));
    for (int32 i = 0; i < entries; ++i) {
      if (kind == 2) {
        const Rect r = AnyRect(in);
        std::memcpy(*heap + c + kObjImageList + i * entry, &r, sizeof r);
      }
      ObjSetWord(heap, c, (kObjImageList + i * entry + (kind == 2 ? kBigImageRef : 0)) / 4, int32(AnyImage(in)));
    }
  }
  m->objects.push_back(c);
  return c;
}

// A display object of the class the input picks, with parts of its own.
inline constexpr int32 kDisplayClasses[] = {
    kClsNumeric, kClsCluster,  kClsArray,   kClsTypeDefinition, kClsGrouperObject, kClsDataDisplayObject, kClsString,
    kClsBoolean, kClsRing,     kClsColorBox, kClsSlide,         kClsKnob,          kClsPath,              kClsPicture,
    kClsUserItem, kClsColorRamp, kClsTag,   kClsRefNum,         kClsOleVariant};
// The top-level class is one of `classes`; the parts and elements inside it
// are of any class.
inline int32 NewDisplay(Input& in, ObjHeap heap, int32 owner, const TypeID* types, Made* m, int32 depth,
                        std::span<const int32> classes = kDisplayClasses);

inline void AddParts(Input& in, ObjHeap heap, int32 o, const TypeID* types, Made* m, int32 depth) {
  for (int32 k = in.Byte() % 4; k > 0; --k) {
    static const int16 kIds[] = {16, 20, 28, 8001, 8002, 8010, 10, 2, 8, 11, 12, 14, 15, 17,
                                 21, 22, 23, 31, 41, 43, 44, 79, 83};
    const int16 id = kIds[in.Byte() % 23];
    const int32 pick = in.Byte() % 3;
    if (pick == 0) NewCosmetic(in, heap, o, id, m);
    else if (pick == 1) NewLabel(in, heap, in.Byte() & 1 ? kClsLabel : kClsMultiLabel, o, id, m);
    else if (depth < 3) NewDisplay(in, heap, o, types, m, depth + 1);
  }
}

inline int32 NewDisplay(Input& in, ObjHeap heap, int32 owner, const TypeID* types, Made* m, int32 depth,
                        std::span<const int32> classes) {
  const int32 cls = classes[in.Byte() % classes.size()];
  const int32 o = NewObj(heap, cls, owner, int16(in.Byte() & 1 ? 0 : 8010));
  if (!o) return 0;
  SetRect(heap, o, AnyRect(in));
  if (cls != kClsGrouperObject) ObjSetWord(heap, o, kPWDDOTypeId, int32(types[in.Byte() % 3]));
  m->objects.push_back(o);
  AddParts(in, heap, o, types, m, depth);
  if (cls == kClsCluster) {
    std::vector<int32> elements;
    for (int32 k = in.Byte() % 3; k > 0; --k)
      if (const int32 e = depth < 3 ? NewDisplay(in, heap, o, types, m, depth + 1) : 0) elements.push_back(e);
    if (in.Byte() & 1) elements.push_back(int32(in.Word()));
    ObjSetWord(heap, o, kPWClusterElements, vib::NewList(heap, elements));
  } else if (cls == kClsArray) {
    const int32 element = NewObj(heap, kClsNumeric, o, 8001);
    if (element) {
      SetRect(heap, element, AnyRect(in));
      ObjSetWord(heap, element, kPWDDOTypeId, int32(types[0]));
      m->objects.push_back(element);
      AddParts(in, heap, element, types, m, depth + 1);
    }
    ObjSetWord(heap, o, kPWArrayElement, in.Byte() < 230 ? element : int32(in.Word()));
    ObjSetWord(heap, o, kPWArrayGrid, int32(uInt32(uInt16(Small(in) % 6)) << 16 | uInt16(Small(in) % 6)));
    ObjSetWord(heap, o, kPWArrayShown, int32(uInt32(uInt16(Small(in) % 4)) << 16 | uInt16(Small(in) % 4)));
  }
  return o;
}

// Lets go what the objects hold outside the heap: the labels' text records
// and string lists, a slide's housing image (word 13), a picture's copy
// (word 10).
inline void DisposeMade(ObjHeap heap, const Made& made) {
  for (int32 l : made.labels) {
    if (TRecord t = TCheckedRecord(OHWord(heap, uInt32(l + kObjText)))) TDispose(t);
  }
  for (int32 l : made.lists) {
    UHandle list = reinterpret_cast<UHandle>(uintptr_t(OHWord(heap, uInt32(l + kObjStringList))));
    if (list && AZCheckHandle(list) == kNoErr) AZDisposeHandle(list);
  }
  // A slide's housing image (word 13) and a picture's copy (word 10).
  for (int32 o : made.objects) {
    const int32 cls = ObjClass(heap, o);
    const int32 word = cls == kClsPicture ? 10 : cls == kClsSlide || cls == kClsKnob ? 13 : 0;
    if (!word || OHBlockSize(heap, o) < 4 * (word + 1)) continue;
    const int32 image = int32(OHWord(heap, uInt32(o + 4 * word)));
    if (image && IKindOf(image) == kImagePixmap) IRelease(image);
  }
}

}  // namespace fuzzobj
