#include "panel/oinit.h"

#include <cstring>
#include <initializer_list>

#include "engine/datatype.h"
#include "engine/dsalloc.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/dlgpanel.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/textrec.h"
#include "panel/datamsg.h"
#include "panel/fpinit.h"
#include "panel/objimage.h"
#include "panel/objload.h"
#include "panel/osupport.h"

namespace {

constexpr const char* kSource = "fpinit";
constexpr uInt32 kRootFlagLists = 0x10000;

uInt32 W(ObjHeap heap, int32 at) { return OHWord(heap, uInt32(at)); }
void SetW(ObjHeap heap, int32 at, uInt32 v) { OHSetWord(heap, uInt32(at), v); }
void SetHalf(ObjHeap heap, int32 at, uInt16 v) { PutNative16(*heap + at, v); }
int16 Half(ObjHeap heap, int32 at) { return int16(GetNative16(*heap + at)); }

// A cleared block of the class's instance size (at least `least` bytes).
int32 NewCleared(ObjHeap heap, int32 size, int32 cls) {
  const int32 b = OHNewBlock(heap, size, cls);
  if (b) std::memset(*heap + b, 0, size_t(size));
  return b;
}

// A list of `count` zero entries (a count word, then the entries), at least
// the List class's instance size.
int32 NewList(ObjHeap heap, int32 count) {
  const int32 l = NewCleared(heap, 4 + 4 * (count > 0 ? count : 1), kObjClassList);
  if (l) SetW(heap, l, uInt32(count));
  return l;
}

bool IsLabelClass(int32 cls) { return cls == 10 || (cls >= 13 && cls <= 16) || cls == kClsSelLabel; }

// Disposes a half-built object: its parts first (the part list of a data
// display object, a listbox's label), then what the object holds (its
// unload message), then the block.
}  // namespace

void DisposeObjectTree(ObjHeap heap, int32 object) {
  if (!object) return;
  const int32 cls = OHBlockClass(heap, object);
  if (ClassIsKindOf(cls, kClsGrouperObject) && cls != kClsFrontPanel &&
      OHBlockSize(heap, object) >= kObjPartList + 4) {
    const int32 list = int32(W(heap, object + kObjPartList));
    SetW(heap, object + kObjPartList, 0);
    if (list) {
      const int32 n = ObjListCount(heap, list);
      for (int32 i = 0; i < n; ++i) DisposeObjectTree(heap, ObjListGet(heap, list, i));
      OHDisposeBlock(heap, list);
    }
  }
  if (cls == kClsListbox && OHBlockSize(heap, object) >= kListboxLabel + 4) {
    const int32 label = int32(W(heap, object + kListboxLabel));
    SetW(heap, object + kListboxLabel, 0);
    DisposeObjectTree(heap, label);
  }
  if (ClassIsKindOf(cls, kClsDataDisplayObject) && OHBlockSize(heap, object) >= kObjTypeId + 4) {
    if (const TypeID t = W(heap, object + kObjTypeId)) ReleaseTypeID(heap, t);
    SetW(heap, object + kObjTypeId, 0);
  }
  if (ODisposeMethodFor(cls)) ODispose(heap, object);
  OHDisposeBlock(heap, object);
}

namespace {

// A template converted to memory order, released when it goes.
class Template {
 public:
  Template(uInt32 type, int32 id) {
    p_ = static_cast<uChar*>(GetPreloadedRsrcSized(type, id, &size_));
    if (p_ && SwapRsrcData(type, p_, size_, kSwapToMemory) != kNoErr) bad_ = true;
  }
  ~Template() {
    if (p_) ReleasePreloadedRsrc(p_);
  }
  Template(const Template&) = delete;
  Template& operator=(const Template&) = delete;
  bool Missing() const { return !p_; }
  // Usable when present, converted and at least `least` bytes long.
  bool Ok(int32 least) const { return p_ && !bad_ && size_ >= least; }
  const uChar* At(int32 at) const { return p_ + at; }
  uInt32 U32(int32 at) const { return GetNative32(p_ + at); }
  int16 I16(int32 at) const { return int16(GetNative16(p_ + at)); }
  int32 Size() const { return size_; }

 private:
  uChar* p_ = nullptr;
  int32 size_ = 0;
  bool bad_ = false;
};

// The leading fields every template shares: the flags and three half-words.
void CopyHead(ObjHeap heap, int32 object, const Template& t) {
  SetW(heap, object + kObjFlags, t.U32(kTplFlags));
  SetHalf(heap, object + kObjHalf4, uInt16(t.I16(kTplHalf4)));
  SetHalf(heap, object + kObjHalf5, 0);
  SetHalf(heap, object + kObjHalf6, uInt16(t.I16(kTplHalf6)));
  SetHalf(heap, object + kObjHalf7, uInt16(t.I16(kTplHalf7)));
}

Rect BoundsOf(ObjHeap heap, int32 object) {
  Rect r;
  std::memcpy(&r, *heap + object + kObjBounds, sizeof r);
  return r;
}
void SetBounds(ObjHeap heap, int32 object, const Rect& r) { std::memcpy(*heap + object + kObjBounds, &r, sizeof r); }
Rect TplRect(const Template& t, int32 at) {
  return Rect{t.I16(at), t.I16(at + 2), t.I16(at + 4), t.I16(at + 6)};
}
Rect Moved(Rect r, Point by) {
  r.top = int16(r.top + by.v), r.bottom = int16(r.bottom + by.v);
  r.left = int16(r.left + by.h), r.right = int16(r.right + by.h);
  return r;
}

int32 Fail(ObjHeap heap, int32 object) {
  DisposeObjectTree(heap, object);
  return 0;
}

UHandle OwnerVI(ObjHeap heap) {
  const int32 ext = int32(W(heap, kOHExtension));
  return ext > 0 ? reinterpret_cast<UHandle>(uintptr_t(W(heap, ext + kHeapExtOwner))) : nullptr;
}
int32 Root(ObjHeap heap) {
  const int32 ext = int32(W(heap, kOHExtension));
  return ext > 0 ? int32(W(heap, ext + kHeapExtRoot)) : 0;
}

// ---- Data display objects ------------------------------------------------------------
// Templates from the resource file may name parts without end: nesting is
// bounded.
int32 gInitDepth = 0;
constexpr int32 kMaxInitDepth = 16;
struct DepthGuard {
  DepthGuard() { ++gInitDepth; }
  ~DepthGuard() { --gInitDepth; }
};

// The shared step: "DDOD" gives the flags, the half-words and the parts,
// each made and initialised in turn; the object is sized around its labels.
int32 DisplayInit(ObjHeap heap, int32 object, Point where, int32 rsrcId) {
  DepthGuard depth;
  if (gInitDepth > kMaxInitDepth || OHBlockSize(heap, object) < kObjPartList + 4) return Fail(heap, object);
  uInt32 indicator = 0;
  {
    Template t(kRsrcDDOD, rsrcId);
    if (t.Missing()) {
      SetW(heap, object + kObjPartList, 0);
      DBPrintf("Grouper doesn't have a partsList");
      return Fail(heap, object);
    }
    if (!t.Ok(kDDODParts)) return Fail(heap, object);
    CopyHead(heap, object, t);
    indicator = t.U32(kTplFlags) & kObjFlagIndicator;
    const int32 n = t.I16(kDDODPartCount);  // the conversion checked it against the size
    const int32 list = NewList(heap, n);
    if (!list) return Fail(heap, object);
    SetW(heap, object + kObjPartList, uInt32(list));
    ObjSetWord(heap, list, 0, 0);  // filled as the parts are made
    for (int32 i = 0; i < n; ++i) {
      const int32 cls = int32(t.U32(kDDODParts + kDDODPartSize * i));
      const int32 partRsrc = t.I16(kDDODParts + kDDODPartSize * i + 4);
      // Resource id 0 names no template: a part that gives it comes from a
      // damaged template, as does a part of a class not made at run time.
      if (partRsrc == 0 || !ClassCreatableAtRunTime(cls) || cls == kClsFrontPanel || cls == kClsFPDataController)
        return Fail(heap, object);
      int32 part = NewCleared(heap, ClassRecord(cls)->instanceSize, cls);
      if (!part) return Fail(heap, object);
      SetW(heap, part + kObjOwner, uInt32(object));
      part = OInit(heap, part, where, partRsrc);
      if (!part) return Fail(heap, object);
      const int32 l = int32(W(heap, object + kObjPartList));
      ObjSetWord(heap, l, 0, i + 1);
      ObjListSet(heap, l, i, part);
    }
  }
  bool labelled = false;
  for (int32 i = 0, n = ObjListCount(heap, int32(W(heap, object + kObjPartList))); i < n; ++i) {
    const int32 part = ObjListGet(heap, int32(W(heap, object + kObjPartList)), i);
    if (!IsLabelClass(OHBlockClass(heap, part))) continue;
    labelled = true;
    OSize(heap, part, nullptr, 0);
    OSize(heap, object, nullptr, Half(heap, part + kObjPartId));
  }
  if (!labelled) OSize(heap, object, nullptr, 0);
  OSetIndicator(heap, object, indicator);
  return object;
}

// A standard type for the object named after its label, in word 9.  Types
// live in the owner VI's type list: a panel without a VI (a dialog the shell
// builds) gives its objects none.
bool SetNamedType(ObjHeap heap, int32 object, TypeID (*make)(ObjHeap)) {
  if (!OwnerVI(heap)) return true;
  const TypeID type = make(heap);
  if (!type) return false;
  SetW(heap, object + kObjTypeId, type);
  return SetTypeIDName(heap, type, GetCtrlLabel(heap, object)) == kNoErr;
}

// The standard entry of a numeric representation: the numeric codes 1 to
// 14 are their own entries; 21 to 23 (the enumerations) take the unsigned
// integers of their width.
int32 StdIndexOfRepresentation(int32 rep) {
  if (rep >= 1 && rep <= 14) return rep;
  if (rep >= 21 && rep <= 23) return rep - 16;
  return -1;
}

// The control's data in the VI's data space (none without a VI).
bool AllocData(ObjHeap heap, int32 object) { return !OwnerVI(heap) || AllocObjDataSpace(heap, object) == kNoErr; }

int32 gStdIndex = 0;  // the standard entry the next numeric type takes
TypeID StdType(ObjHeap heap) { return NewStdTypeID(heap, gStdIndex); }
TypeID BooleanType(ObjHeap heap) { return NewStdTypeID(heap, kStdTDBoolean); }
TypeID StringType(ObjHeap heap) { return NewStdTypeID(heap, kStdTDString); }
TypeID RowType(ObjHeap heap) { return NewStdTypeID(heap, 3); }

int32 NumericInit(ObjHeap heap, int32 object, Point where, int32 rsrcId) {
  if (!DisplayInit(heap, object, where, rsrcId)) return 0;
  Template t(kRsrcSNUM, rsrcId);
  const int32 rep = t.Ok(4) ? t.I16(0) : -1;
  const int32 index = StdIndexOfRepresentation(rep);
  if (index < 0 || OHBlockSize(heap, object) < kNumericFormat + 2) return Fail(heap, object);
  SetHalf(heap, object + kNumericFormat, uInt16(t.I16(2)));
  gStdIndex = index;
  if (!SetNamedType(heap, object, &StdType) || !AllocData(heap, object))
    return Fail(heap, object);
  return object;
}

int32 RingInit(ObjHeap heap, int32 object, Point where, int32 rsrcId) {
  if (!NumericInit(heap, object, where, rsrcId)) return 0;
  const int32 items = FindPart(heap, object, 14, 0);
  const int32 frame = FindPart(heap, object, 28, 0);
  if (items && frame && !(W(heap, items + kObjFlags) & kRingItemsPlaced)) {
    const Rect f = BoundsOf(heap, frame), r = BoundsOf(heap, items);
    const Point by{int16((f.top + f.bottom - r.top - r.bottom) / 2), int16((f.left + f.right - r.left - r.right) / 2)};
    OOffset(heap, items, by);
  }
  SetHalf(heap, object + kRingHalf28, 0);
  return object;
}

int32 BooleanInit(ObjHeap heap, int32 object, Point where, int32 rsrcId) {
  if (!DisplayInit(heap, object, where, rsrcId)) return 0;
  if (!SetNamedType(heap, object, &BooleanType)) return Fail(heap, object);
  SetHalf(heap, object + kBooleanHalf16, 224);
  const int32 text = FindPart(heap, object, 22, 0), button = FindPart(heap, object, 21, 0);
  if (text && button && (W(heap, text + kObjFlags) & 16) && Half(heap, text + kObjHalf6) == 21 &&
      Half(heap, text + kObjHalf7) == 15) {
    const Rect b = BoundsOf(heap, button), r = BoundsOf(heap, text);
    OOffset(heap, text, Point{int16((b.top + b.bottom - r.top - r.bottom) / 2),
                              int16((b.left + b.right - r.left - r.right) / 2)});
  }
  const int32 root = Root(heap);
  if (rsrcId == kDefaultButtonTemplate && root && OHBlockSize(heap, root) >= kRootKeyNav + 4) {
    const int32 nav = int32(W(heap, root + kRootKeyNav));
    if (nav && ObjListCount(heap, nav) > 0 && ObjListGet(heap, nav, 0) == 0) ObjListSet(heap, nav, 0, object);
  }
  return object;
}

int32 StringInit(ObjHeap heap, int32 object, Point where, int32 rsrcId) {
  if (!DisplayInit(heap, object, where, rsrcId)) return 0;
  if (!SetNamedType(heap, object, &StringType)) return Fail(heap, object);
  return object;
}

ListboxRowHeightProc gRowHeight = nullptr;

// The value of a listbox that selects several rows: an array of row numbers.
TypeID RowsType(ObjHeap heap) {
  if (StdTDTable[kListboxRowsStd]) return NewStdTypeID(heap, kListboxRowsStd);
  alignas(4) static const uChar kRows[] = {14, 0, kTDArray, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 4, 0, kTDI32, 0};
  return NewTypeIDForTD(heap, reinterpret_cast<const TypeDescriptor*>(kRows));
}

int32 ListboxInit(ObjHeap heap, int32 object, Point where, int32 rsrcId) {
  if (!DisplayInit(heap, object, where, rsrcId)) return 0;
  if (OHBlockSize(heap, object) < kListboxMode + 4) return Fail(heap, object);
  uInt32 mode = 0;
  {
    Template t(kRsrcSLBX, rsrcId);
    if (!t.Ok(8)) return Fail(heap, object);
    const int32 labelRsrc = int32(t.U32(0));
    mode = t.U32(4) & kListboxModeMask;
    int32 label = labelRsrc ? NewCleared(heap, ClassRecord(kClsLabel)->instanceSize, kClsLabel) : 0;
    if (!label) return Fail(heap, object);
    SetW(heap, label + kObjOwner, uInt32(object));
    label = OInit(heap, label, where, labelRsrc);
    if (!label) return Fail(heap, object);
    SetW(heap, object + kListboxLabel, uInt32(label));
  }
  SetW(heap, object + kListboxMode, mode);
  if (!SetNamedType(heap, object, (mode & kListboxMultiple) ? &RowsType : &RowType)) return Fail(heap, object);
  if (gRowHeight && gRowHeight(heap, object)) OSize(heap, object, nullptr, 26);
  if (!AllocData(heap, object)) return Fail(heap, object);
  return object;
}

// ---- Cosmetics and labels ------------------------------------------------------------
// The template's image (kind, number) becomes the reference at `at`.
bool MakeImage(ObjHeap heap, int32 object, int32 at, int32 kind, int32 number) {
  Rect r = BoundsOf(heap, object);
  int32 ref = 0;
  if (kind == 0 && number == 0) return SetW(heap, object + at, 0), true;
  // An image kind no template may name is a damaged template, not a broken
  // caller: refused without the assertion.
  if (kind < 0 || kind > 2 || FPMakeObjImage(kind, number, &ref, &r) != kNoErr) return false;
  SetW(heap, object + at, uInt32(ref));
  return true;
}

// The fields a cosmetic template shares: head, rectangle moved to the
// point, colours.
void CosmeticHead(ObjHeap heap, int32 object, const Template& t, Point where) {
  CopyHead(heap, object, t);
  SetBounds(heap, object, Moved(TplRect(t, kCosmRect), where));
  SetW(heap, object + kObjCosmFore, t.U32(kTplFore));
  SetW(heap, object + kObjCosmBack, t.U32(kTplBack));
}

// Grows the block to hold `n` entries of `entry` bytes from word 10 on.
bool GrowForImages(ObjHeap heap, int32* object, int32 n, int32 entry) {
  const int64 want = kObjImageList + int64(n) * entry;
  if (want > 0x7FFF0000) return false;
  const int32 size = OHBlockSize(heap, *object);
  if (want <= size) return true;
  if (OHSetBlockSize(heap, object, int32(want)) != kNoErr) return false;
  std::memset(*heap + *object + size, 0, size_t(want - size));
  return true;
}

int32 CosmeticInit(ObjHeap heap, int32 object, Point where, int32 rsrcId) {
  const int32 cls = OHBlockClass(heap, object);
  const uInt32 type = cls == kClsMultiCosmetic ? kRsrcMCos : cls == kClsBigMultiCosmetic ? kRsrcBCos : kRsrcCosm;
  Template t(type, rsrcId);
  if (!t.Ok(type == kRsrcBCos ? kBCosEntries : kCosmFixedSize) || OHBlockSize(heap, object) < kObjImage + 12)
    return Fail(heap, object);
  if (type == kRsrcCosm) {
    CosmeticHead(heap, object, t, where);
    if (!MakeImage(heap, object, kObjImage, int32(t.U32(kTplImageKind)), int32(t.U32(kTplImageKind + 4))))
      return Fail(heap, object);
    return object;
  }
  const int32 n = int32(t.U32(type == kRsrcBCos ? kBCosCount : kTplImageKind));  // checked by the conversion
  const int32 entry = type == kRsrcBCos ? kBigImageEntry : 4;
  if (n > 0x7FFF || !GrowForImages(heap, &object, n, entry)) return Fail(heap, object);
  SetHalf(heap, object + kObjImageCount, uInt16(n));
  SetHalf(heap, object + kObjImageIndex, 0);
  if (type == kRsrcMCos) {
    CosmeticHead(heap, object, t, where);
    for (int32 i = 0; i < n; ++i) {
      const int32 at = kTplImageKind + 4 + 8 * i;
      if (!MakeImage(heap, object, kObjImageList + 4 * i, int32(t.U32(at)), int32(t.U32(at + 4))))
        return Fail(heap, object);
    }
    SetW(heap, object + kObjImage, n ? W(heap, object + kObjImageList) : 0);
    return object;
  }
  // Big multi-cosmetics: each image has its own rectangle and colours; the
  // object shows the first.
  CopyHead(heap, object, t);
  for (int32 i = n - 1; i >= 0; --i) {
    const int32 src = kBCosEntries + kBCosEntrySize * i, dst = object + kObjImageList + kBigImageEntry * i;
    const Rect r = Moved(TplRect(t, src), where);
    std::memcpy(*heap + dst, &r, sizeof r);
    SetW(heap, dst + 8, t.U32(src + 8));
    SetW(heap, dst + 12, t.U32(src + 12));
    SetBounds(heap, object, r);
    SetW(heap, object + kObjCosmFore, t.U32(src + 8));
    SetW(heap, object + kObjCosmBack, t.U32(src + 12));
    if (!MakeImage(heap, object, kObjImageList + kBigImageEntry * i + kBigImageRef, int32(t.U32(src + 16)),
                   int32(t.U32(src + 20))))
      return Fail(heap, object);
  }
  SetW(heap, object + kObjImage, n ? W(heap, object + kObjImageList + kBigImageRef) : 0);
  return object;
}

// The font a label template names: a predefined kind (first byte below 8)
// names one of the standard fonts by its second byte.
int32 TemplateFont(uInt32 word) {
  const int32 kind = int32(word >> 24), index = int32((word >> 16) & 0xFF);
  if (kind < 8 && index < kPredefinedFonts) return TStandardFont(index);
  if (kind < 8) DBPrintf("The predefined font is not valid, using gAppFont");
  return TStandardFont(kAppFont);
}

bool MakeText(ObjHeap heap, int32 object, const uChar* text, int32 length, uInt32 fontWord, uInt32 mode) {
  const Rect r = BoundsOf(heap, object);
  TRecord rec = TNew(&r, mode, text, length, TemplateFont(fontWord), DColor(W(heap, object + kObjCosmFore)),
                     DColor(W(heap, object + kObjCosmBack)));
  if (!rec) return false;
  SetW(heap, object + kObjText, uInt32(uintptr_t(rec)));
  return true;
}

int32 LabelInit(ObjHeap heap, int32 object, Point where, int32 rsrcId) {
  const int32 cls = OHBlockClass(heap, object);
  if (cls == kClsMultiLabel || cls == kClsBigMultiLabel) {
    Template t(kRsrcMLbl, rsrcId);
    if (!t.Ok(kCosmFixedSize) || OHBlockSize(heap, object) < kObjStringList + 4) return Fail(heap, object);
    CosmeticHead(heap, object, t, where);
    const int32 n = int32(t.U32(kTplImageKind));  // the conversion checked the pairs and texts
    if (n > 0 && !MakeImage(heap, object, kObjImage, int32(t.U32(kTplImageKind + 4)), int32(t.U32(kTplImageKind + 8))))
      return Fail(heap, object);
    const int32 fontAt = kTplImageKind + 4 + 8 * n;
    const int32 count = int32(t.U32(fontAt + 4));
    // The texts: a count, then the Pascal strings one after another.
    int32 bytes = 4;
    for (int32 i = 0, at = fontAt + 8; i < count; ++i, at += PaddedPStrRoom(*t.At(at))) bytes += 1 + *t.At(at);
    UHandle list = AZNewHandle(bytes);
    if (!list) return Fail(heap, object);
    PutNative32(*list, uInt32(count));
    for (int32 i = 0, at = fontAt + 8, to = 4; i < count; ++i, at += PaddedPStrRoom(*t.At(at))) {
      std::memcpy(*list + to, t.At(at), size_t(1 + *t.At(at)));
      to += 1 + *t.At(at);
    }
    SetW(heap, object + kObjStringList, uInt32(uintptr_t(list)));
    const uChar* first = count ? t.At(fontAt + 8) : nullptr;
    if (!MakeText(heap, object, first ? first + 1 : nullptr, first ? *first : 0, t.U32(fontAt), 0))
      return Fail(heap, object);
    return object;
  }
  Template t(kRsrcLabl, rsrcId);
  if (!t.Ok(kLablFixedSize) || OHBlockSize(heap, object) < kObjText + 4) return Fail(heap, object);
  CosmeticHead(heap, object, t, where);
  if (!MakeImage(heap, object, kObjImage, int32(t.U32(kTplImageKind)), int32(t.U32(kTplImageKind + 4))) ||
      !MakeText(heap, object, t.At(kLablText + 1), *t.At(kLablText), t.U32(kLablFont), t.U32(kLablMode)))
    return Fail(heap, object);
  return object;
}

// ---- The root and the data controllers -----------------------------------------------
DColor gDefaultPanelColour = kDefaultPanelColour;

int32 FrontPanelInit(ObjHeap heap, int32 object, Point, int32) {
  if (OHBlockSize(heap, object) < kRootKeyNav + 4) return Fail(heap, object);
  const int32 controllers = NewList(heap, 0);
  const int32 objects = controllers ? NewList(heap, 0) : 0;
  const int32 keys = objects ? NewList(heap, kKeyNavSlots) : 0;
  if (!keys) {
    for (int32 l : {controllers, objects})
      if (l) OHDisposeBlock(heap, l);
    OHDisposeBlock(heap, object);
    return 0;
  }
  SetW(heap, object + kRootItemList, uInt32(controllers));
  SetW(heap, object + kRootObjectList, uInt32(objects));
  SetW(heap, object + kRootKeyNav, uInt32(keys));
  SetW(heap, object + kRootPanelColour, gDefaultPanelColour);
  SetW(heap, object + kObjFlags, W(heap, object + kObjFlags) | kRootFlagLists);
  return object;
}

// Message 5 of a data controller: its third argument is the display object
// it serves.
int32 FPDCOInit(ObjHeap heap, int32 object, int32 display, int32) {
  if (!display || OHBlockSize(heap, object) < kDCOFlags16 + 2 || OHBlockSize(heap, display) < kObjTypeId + 4)
    return Fail(heap, object);
  const UHandle vi = OwnerVI(heap);
  if (vi && VIRec(vi)->viKind == kViKindCrossList) {
    const int32 cross = NewCleared(heap, ClassRecord(kClsCrossList)->instanceSize, kClsCrossList);
    if (!cross) return Fail(heap, object);
    SetW(heap, object + kDCOCrossList, uInt32(cross));
  }
  const TypeID type = AllocTypeID(heap, heap, OGetType(heap, display));
  if (!type) {
    if (const int32 cross = int32(W(heap, object + kDCOCrossList))) OHDisposeBlock(heap, cross);
    return Fail(heap, object);
  }
  SetW(heap, object + kDCOType, type);
  SetW(heap, object + kDCODisplay, uInt32(display));
  SetW(heap, display + kObjOwner, uInt32(object));
  SetHalf(heap, object + kDCOFlags16, 0xFFFF);
  const uInt32 flags = W(heap, object + kObjFlags);
  SetW(heap, object + kObjFlags, (flags & ~kObjFlagIndicator) | (W(heap, display + kObjFlags) & kObjFlagIndicator));
  SetHalf(heap, object + kObjBounds, uInt16(Half(heap, object + kObjBounds) | (Half(heap, display + kObjBounds) & 0x3E0)));
  AllocObjDataSpace(heap, object);
  return object;
}

int32 WizardInit(ObjHeap, int32 object, Point, int32) { return object; }

int32 AnnexInit(ObjHeap, int32 object, Point, int32) {
  DBAssert(kSource, __LINE__, "an annex is not made from a template");
  return object;
}

int32 NotAtRunTimeInit(ObjHeap heap, int32 object, Point, int32) {
  DBAssert(kSource, __LINE__, "this class is not created at run time");
  OHDisposeBlock(heap, object);
  return 0;
}



// The root object made without its initialisation (the dialog builder's):
// its item and object lists and its key-navigation table.
bool EnsureRootTables(ObjHeap heap, int32 root) {
  if (!root || OHBlockSize(heap, root) < kRootKeyNav + 4) return false;
  for (int32 at : {kRootItemList, kRootObjectList}) {
    if (W(heap, root + at)) continue;
    const int32 l = NewList(heap, 0);
    if (!l) return false;
    SetW(heap, root + at, uInt32(l));
  }
  if (!W(heap, root + kRootKeyNav)) {
    const int32 nav = NewList(heap, kKeyNavSlots);
    if (!nav) return false;
    SetW(heap, root + kRootKeyNav, uInt32(nav));
  }
  SetW(heap, root + kObjFlags, W(heap, root + kObjFlags) | kRootFlagLists);
  return true;
}

// ---- The dialog builder's steps ----------------------------------------------------
// A class not made from a template cannot come from a block: the object is
// disposed without reaching its initialisation.
int32 InitForDialog(ObjHeap heap, int32 object, int32 rsrcId) {
  const int32 cls = OHBlockClass(heap, object);
  if (!ClassCreatableAtRunTime(cls) || cls == kClsFrontPanel || cls == kClsFPDataController) {
    OHDisposeBlock(heap, object);
    return 0;
  }
  return OInit(heap, object, Point{0, 0}, rsrcId);
}

MgErr AddChild(ObjHeap heap, int32 object) {
  const int32 root = Root(heap);
  if (!EnsureRootTables(heap, root)) return kMemFullErr;
  int32 list = int32(W(heap, root + kRootObjectList));
  if (MgErr err = OHListInsert(heap, &list, object, kObjListAppend)) return err;
  SetW(heap, root + kRootObjectList, uInt32(list));
  SetW(heap, object + kObjOwner, uInt32(root));
  return kNoErr;
}

Bool32 IsKindOf(ObjHeap heap, int32 object, int32 cls) { return ClassIsKindOf(OHBlockClass(heap, object), cls); }

// A display object named as a dialog item gets its data controller when the
// panel belongs to a VI, so that the item's value has a place in the VI's
// data; the controller is the item.  0 when it cannot be made.
int32 ItemController(ObjHeap heap, int32 root, int32 object) {
  const int32 cls = OHBlockClass(heap, object);
  if (!OwnerVI(heap) || cls == kDlgClassGrouper || !ClassIsKindOf(cls, kDlgClassDisplay)) return object;
  const int32 dco = NewCleared(heap, ClassRecord(kClsFPDataController)->instanceSize, kClsFPDataController);
  if (!dco) return 0;
  SetW(heap, dco + kObjOwner, uInt32(root));
  // The controller's initialisation takes the display object in place of a point.
  Point display;
  static_assert(sizeof display == sizeof object, "a point carries the display object");
  std::memcpy(&display, &object, sizeof display);
  return OInit(heap, dco, display, 0);
}

MgErr SetDialogItems(ObjHeap heap, const int32* objects, int32 count) {
  const int32 root = Root(heap);
  if (!EnsureRootTables(heap, root)) return kMemFullErr;
  for (int32 i = 0; i < count; ++i) {
    const int32 item = ItemController(heap, root, objects[i]);
    if (!item) return kMemFullErr;
    int32 list = int32(W(heap, root + kRootItemList));
    if (MgErr err = OHListInsert(heap, &list, item, kObjListAppend)) return err;
    SetW(heap, root + kRootItemList, uInt32(list));
  }
  return kNoErr;
}

MgErr SetKeyNavigation(ObjHeap heap, const int32* objects, int32 count) {
  const int32 root = Root(heap);
  if (count != kKeyNavSlots || !EnsureRootTables(heap, root)) return kArgErr;
  const int32 nav = int32(W(heap, root + kRootKeyNav));
  for (int32 i = 0; i < count; ++i) ObjListSet(heap, nav, i, objects[i]);
  return kNoErr;
}


}  // namespace

bool ClassIsKindOf(int32 cls, int32 base) {
  if (cls == base) return true;
  // An id without a class (the filler's count is 0) derives from nothing.
  for (int32 depth = 0; depth < kClassIdCount; ++depth) {
    const ObjClassRecord* r = ClassRecord(cls);
    if (r->methodCount == 0) return false;
    cls = r->superId;
    if (cls < 0) return false;
    if (cls == base) return true;
  }
  return false;
}

// By id: the class table asks while it is being built.
ObjMethodAddr OInitMethodFor(int32 cls) {
  using Init = int32 (*)(ObjHeap, int32, Point, int32);
  Init m = nullptr;
  switch (cls) {
    case kClsFrontPanel: m = &FrontPanelInit; break;
    case kClsFPDataController: return reinterpret_cast<ObjMethodAddr>(&FPDCOInit);
    case kClsDataDisplayObject: case kClsGrouperObject: m = &DisplayInit; break;
    case kClsNumeric: case kClsColorBox: case kClsColorRamp: m = &NumericInit; break;
    case kClsRing: m = &RingInit; break;
    case kClsBoolean: m = &BooleanInit; break;
    case kClsString: m = &StringInit; break;
    case kClsListbox: m = &ListboxInit; break;
    case kClsCosmetic: case kClsMultiCosmetic: case kClsBigMultiCosmetic: m = &CosmeticInit; break;
    case kClsLabel: case kClsMultiLabel: case kClsBigMultiLabel: m = &LabelInit; break;
    case kClsWizardData: m = &WizardInit; break;
    case kClsAnnex: m = &AnnexInit; break;
    case kClsCluster: case kClsRefNum: case kClsPicture: case kClsArray: case kClsTable: case kClsSlide:
    case kClsKnob: case kClsUserItem: case kClsTypeDefinition: case kClsTag: case kClsPath: case kClsSelLabel:
    case kClsScale: case kClsGraphChart: case kClsOleVariant:
      m = &NotAtRunTimeInit;
      break;
    default: break;
  }
  return reinterpret_cast<ObjMethodAddr>(m);
}

bool ClassCreatableAtRunTime(int32 cls) {
  const ObjMethodAddr m = OInitMethodFor(cls);
  return m && m != reinterpret_cast<ObjMethodAddr>(&NotAtRunTimeInit) &&
         m != reinterpret_cast<ObjMethodAddr>(&AnnexInit);
}


void OSizeToParts(ObjHeap heap, int32 object) {
  if (!heap || !*heap || !object || OHBlockSize(heap, object) < kObjBounds + 8) return;
  Rect r = BoundsOf(heap, object);
  bool any = !DEmptyRect(&r);
  if (ClassIsKindOf(OHBlockClass(heap, object), kClsGrouperObject) && OHBlockSize(heap, object) >= kObjPartList + 4) {
    ForEachPart(heap, object, [&](int32 part) {
      if (OHBlockSize(heap, part) < kObjBounds + 8) return;
      const Rect p = BoundsOf(heap, part);
      if (DEmptyRect(&p)) return;
      if (!any) r = p, any = true;
      else DUnionRect(&p, &r);
    });
  }
  SetBounds(heap, object, r);
}

void SetListboxRowHeightHook(ListboxRowHeightProc proc) { gRowHeight = proc; }
ListboxRowHeightProc ListboxRowHeightHookInUse() { return gRowHeight; }

void PanelInstallDialogHooks() {
  // The bounds a dialog is sized to are the shell's (its VI window's).
  DlgPanelHooks h{};
  h.panelBounds = DlgPanel().panelBounds;
  h.newObject = &NewObjectByClassName;
  h.initObject = &InitForDialog;
  h.resizeObject = &OSizeToParts;
  h.addChild = &AddChild;
  h.isKindOf = &IsKindOf;
  h.setDialogItems = &SetDialogItems;
  h.setKeyNavigation = &SetKeyNavigation;
  SetDlgPanelHooks(&h);
}
