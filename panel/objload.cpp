// The load and unload methods of the panel classes.
//
// A load method fails its object (the broadcast then stops and the loaded
// objects are unloaded) with an error; before it reads anything it clears
// the words its unload method releases, so that an object whose load failed
// halfway unloads cleanly.  Every word read from the stored object is
// checked against the object's block, every offset against the data space.
#include "panel/objload.h"

#include <cstring>

#include "engine/datatype.h"
#include "engine/typemgr.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/objload.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/image.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "panel/booltext.h"
#include "panel/objimage.h"
#include "panel/osupport.h"

int32 gTagCallbackValue = 0;

int32 TagCallbackProc(ObjHeap, int32, int32) { return 0; }

namespace {

constexpr ResType kDescriptionType = FourCC("STRG");
constexpr ResType kTableFontType = FourCC("HOBJ");
constexpr ResType kStringListType = FourCC("CPST");

CursorLegendProc gCursorLegend = nullptr;

// Data offset and type position words (byte offsets) of the data classes.
struct DataWords {
  int32 data, position;
};
constexpr DataWords kNumericData = {44, 48}, kRingItems = {60, 64}, kArrayData = {52, 56}, kTableData = {40, 44},
                    kScaleData = {28, 32}, kGraphMain = {44, 48}, kGraphHistory = {52, 56},
                    kGraphImage = {76, 68}, kDCORecord = {24, 28};
constexpr int32 kGraphPixmapByte = 60;

// The object's block holds `bytes` bytes.
bool Has(ObjHeap heap, int32 obj, int32 bytes) { return OHBlockSize(heap, obj) >= bytes; }

uInt32 Word(ObjHeap heap, int32 obj, int32 at) { return GetNative32(*heap + obj + at); }
void SetWord(ObjHeap heap, int32 obj, int32 at, uInt32 v) { PutNative32(*heap + obj + at, v); }
void ClearFlag(ObjHeap heap, int32 obj, uInt32 bits) { SetWord(heap, obj, kObjFlags, Word(heap, obj, kObjFlags) & ~bits); }
void SetFlag(ObjHeap heap, int32 obj, uInt32 bits) { SetWord(heap, obj, kObjFlags, Word(heap, obj, kObjFlags) | bits); }
UHandle HandleWord(ObjHeap heap, int32 obj, int32 at) {
  return reinterpret_cast<UHandle>(uintptr_t(Word(heap, obj, at)));
}

UHandle Owner(ObjHeap heap) { return PanelHeapOwner(heap); }

// The heap's extension when it holds all its words; 0 otherwise.
int32 Extension(ObjHeap heap) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 && OHBlockSize(heap, ext) >= kHeapExtensionSize ? ext : 0;
}

// Re-computes a data offset from its type position and checks it against
// the data space: at or after the header, the element's data inside it.
MgErr Recompute(ObjHeap heap, int32 obj, DataWords w) {
  if (!Has(heap, obj, (w.data > w.position ? w.data : w.position) + 4)) return kArgErr;
  const int32 stored = int32(Word(heap, obj, w.data));
  const int32 position = int32(Word(heap, obj, w.position));
  if (!stored && !position) return kNoErr;
  UHandle vi = Owner(heap);
  const int32 offset = DSOffsetForType(vi, stored, position);
  if (offset < kDataSpaceHeaderSize) {
    DBPrintf("OLoad: data offset %ld below the data-space header: h=0x%lx, c=0x%lx, position=%ld", long(offset),
             long(uintptr_t(heap)), long(obj), long(position));
    return kArgErr;
  }
  UHandle ds = vi ? VIRec(vi)->dataSpace : nullptr;
  if (ds && *ds) {
    const int32 size = DSTypeSizeAt(vi, position);
    const int64 end = int64(offset) + (size > 0 ? size : 1);
    if (end > DSGetHandleSize(ds)) {
      DBPrintf("OLoad: data offset %ld past the data space: h=0x%lx, c=0x%lx", long(offset), long(uintptr_t(heap)),
               long(obj));
      return kArgErr;
    }
  }
  SetWord(heap, obj, w.data, uInt32(offset));
  return kNoErr;
}

// The common description step.
MgErr DescriptionStep(ObjHeap heap, int32 obj) {
  if (!Has(heap, obj, kObjDescription + 4)) return kArgErr;
  ClearFlag(heap, obj, kObjFlagDataProc);
  const bool has = Word(heap, obj, kObjDescription) != 0;
  SetWord(heap, obj, kObjDescription, 0);
  if (!has) return kNoErr;
  UHandle h = nullptr;
  if (MgErr err = RGetObjRsrc(kDescriptionType, &h)) return err;
  const int32 size = AZGetHandleSize(h);
  if (size < 4) {
    if (AZSetHandleSize(h, 4) != kNoErr) {
      AZDisposeHandle(h);
      return kMemFullErr;
    }
    std::memset(*h, 0, 4);
  } else {
    PutNative32(*h, GetBE32(*h));
  }
  SetWord(heap, obj, kObjDescription, uInt32(uintptr_t(h)));
  return kNoErr;
}

// The numeric step, with the name its report carries.
MgErr NumericStep(ObjHeap heap, int32 obj, DataWords w, const char* who) {
  if (!Has(heap, obj, w.position + 4)) return kArgErr;
  if (Word(heap, obj, w.position)) {
    if (MgErr err = Recompute(heap, obj, w)) return err;
  } else if (const int32 stored = int32(Word(heap, obj, w.data))) {
    DBPrintf("%s: clear dsOffset: h=0x%lx, c=0x%lx, dsOffset=%ld, partID=%ld", who, long(uintptr_t(heap)), long(obj),
             long(stored), long(ObjInt16(heap, obj, kObjPartId)));
    SetWord(heap, obj, w.data, 0);
  }
  return DescriptionStep(heap, obj);
}

int32 DDOLoad(ObjHeap heap, int32 obj) { return DescriptionStep(heap, obj); }

int32 NumericLoad(ObjHeap heap, int32 obj) { return NumericStep(heap, obj, kNumericData, "StdNumOLoadMethod"); }

int32 RingLoad(ObjHeap heap, int32 obj) {
  if (!Has(heap, obj, kRingItems.position + 4)) return kArgErr;
  if (MgErr err = NumericLoad(heap, obj)) return err;
  ClearFlag(heap, obj, kObjFlagRingItems);
  return Recompute(heap, obj, kRingItems);
}

// A word that holds an off-screen image the object makes while it is shown:
// what a file holds there is no image of this run.
constexpr int32 kSlideImageAt = 4 * 13, kPictureCopyAt = 4 * 10;
void ClearImageWord(ObjHeap heap, int32 obj, int32 at) {
  if (Has(heap, obj, at + 4)) SetWord(heap, obj, at, 0);
}
// Releases such an image.
void DisposeImageWord(ObjHeap heap, int32 obj, int32 at) {
  if (!Has(heap, obj, at + 4)) return;
  const int32 image = int32(Word(heap, obj, at));
  if (image && IKindOf(image) == kImagePixmap) IRelease(image);
  SetWord(heap, obj, at, 0);
}

int32 SlideLoad(ObjHeap heap, int32 obj) {
  if (MgErr err = NumericLoad(heap, obj)) return err;
  SetFlag(heap, obj, kObjFlagSlideLoaded);
  ClearImageWord(heap, obj, kSlideImageAt);
  return 0;
}

int32 PictureLoad(ObjHeap heap, int32 obj) {
  ClearImageWord(heap, obj, kPictureCopyAt);
  return DescriptionStep(heap, obj);
}

int32 ArrayLoad(ObjHeap heap, int32 obj) { return NumericStep(heap, obj, kArrayData, "IndArrOLoadMethod"); }

bool GraphHasImage(uInt32 kind) { return kind == 3 || kind == 4 || (kind >= 104 && kind <= 106); }

int32 GraphLoad(ObjHeap heap, int32 obj) {
  if (!Has(heap, obj, kGraphKind + 2)) return kArgErr;
  const uInt32 kind = GetNative16(*heap + obj + kGraphKind);
  if (MgErr err = Recompute(heap, obj, kGraphMain)) return err;
  if (GraphHasImage(kind)) {
    if (MgErr err = Recompute(heap, obj, kGraphImage)) return err;
  } else {
    SetWord(heap, obj, kGraphImage.data, 0);
    SetWord(heap, obj, kGraphImage.position, 0);
  }
  if (Word(heap, obj, kGraphHistory.position)) {
    if (MgErr err = Recompute(heap, obj, kGraphHistory)) return err;
  }
  // The cached plot pixmap is an image of the running program: a stored id
  // names nothing of this run.
  ClearImageWord(heap, obj, kGraphPixmapByte);
  if (kind >= 101 && kind <= 199) SetFlag(heap, obj, kObjFlagChart);
  return DescriptionStep(heap, obj);
}

void DisposeTableFonts(UHandle fonts) {
  if (!fonts || !AZIsHandle(fonts)) return;
  const int32 n = int32(GetNative32(*fonts));
  for (int32 i = 0; i < n && 4 + 4 * int64(i) + 4 <= AZGetHandleSize(fonts); ++i)
    TDisposeFont(int32(GetNative32(*fonts + 4 + 4 * i)));
  AZDisposeHandle(fonts);
}

int32 TableLoad(ObjHeap heap, int32 obj) {
  if (!Has(heap, obj, kTableFonts + 4)) return kArgErr;
  SetWord(heap, obj, kTableFonts, 0);
  if (MgErr err = Recompute(heap, obj, kTableData)) return err;
  if (MgErr err = DescriptionStep(heap, obj)) return err;
  UHandle h = nullptr;
  if (MgErr err = RGetObjRsrc(kTableFontType, &h)) return err;
  const int32 size = AZGetHandleSize(h);
  const int64 count = size >= 4 ? int32(GetBE32(*h)) : -1;
  if (count < 1 || 4 + 4 * count > size) {
    DBPrintf("TableOLoadMethod: font list of %ld entries in %ld bytes", long(count), long(size));
    AZDisposeHandle(h);
    return kArgErr;
  }
  PutNative32(*h, uInt32(count));
  for (int32 i = 0; i < count; ++i) {
    const int32 index = int32(GetBE32(*h + 4 + 4 * i));
    PutNative32(*h + 4 + 4 * i, uInt32(TLoadFontReference(ObjLoadFile(), index)));
  }
  SetWord(heap, obj, kTableFonts, uInt32(uintptr_t(h)));
  return 0;
}

int32 ListboxLoad(ObjHeap heap, int32 obj) {
  if (MgErr err = DescriptionStep(heap, obj)) return err;
  return Recompute(heap, obj, kTableData);
}

int32 ScaleLoad(ObjHeap heap, int32 obj) { return Recompute(heap, obj, kScaleData); }

int32 TagLoad(ObjHeap heap, int32 obj) {
  if (!Has(heap, obj, kTagCallbackProcWord + 4)) return kArgErr;
  if (MgErr err = DescriptionStep(heap, obj)) return err;
  SetWord(heap, obj, kTagCallbackValueWord, uInt32(gTagCallbackValue));
  SetWord(heap, obj, kTagCallbackProcWord, uInt32(uintptr_t(&TagCallbackProc)));
  return 0;
}

int32 FPDCOLoad(ObjHeap heap, int32 obj) {
  if (!Has(heap, obj, kDCORecord.position + 4)) return kArgErr;
  PutNative16(*heap + obj + kDCOFlags16, uInt16(GetNative16(*heap + obj + kDCOFlags16) & ~4u));
  return Recompute(heap, obj, kDCORecord);
}

int32 FrontPanelLoad(ObjHeap heap, int32 obj) {
  if (!Has(heap, obj, kRootRegion + 4)) return kArgErr;
  SetWord(heap, obj, kRootDataSpace, 0);
  SetWord(heap, obj, kRootRegion, 0);
  // The root takes no description from the file: a stored word is no handle.
  SetWord(heap, obj, kObjDescription, 0);
  UHandle vi = Owner(heap);
  UHandle ds = vi ? VIRec(vi)->dataSpace : nullptr;
  if (!ds || !*ds) return 0;
  DataSpaceHeader* h = reinterpret_cast<DataSpaceHeader*>(*ds);
  SetWord(heap, obj, kRootDataSpace, uInt32(uintptr_t(ds)));
  h->panel = heap;
  h->panelFlag1 = h->panelFlag2 = 1;
  const int32 ext = Extension(heap);
  h->panelOpen = ext && GetNative32(*heap + ext + kHeapExtWindow) != 0 ? 1 : 0;
  return 0;
}

// The Cosmetic step: the image of the object's image word.
MgErr CosmeticStep(ObjHeap heap, int32 obj) {
  if (!Has(heap, obj, kObjImage + 4)) return kArgErr;
  int32 ref = int32(Word(heap, obj, kObjImage));
  Rect bounds;
  bounds.top = int16(GetNative16(*heap + obj + kObjBounds));
  bounds.left = int16(GetNative16(*heap + obj + kObjBounds + 2));
  bounds.bottom = int16(GetNative16(*heap + obj + kObjBounds + 4));
  bounds.right = int16(GetNative16(*heap + obj + kObjBounds + 6));
  UHandle vi = Owner(heap);
  const MgErr err = FPLoadObjImage(ObjLoadFile(), &ref, &bounds, vi ? VIRec(vi)->version : 0);
  SetWord(heap, obj, kObjImage, uInt32(ref));
  return err;
}

int32 CosmeticLoad(ObjHeap heap, int32 obj) { return CosmeticStep(heap, obj); }

// Multi-cosmetics: the images of the list, entries of `entry` bytes with
// the reference at `refAt`.
int32 MultiLoad(ObjHeap heap, int32 obj, int32 entry, int32 refAt) {
  if (!Has(heap, obj, kObjImageList)) return kArgErr;
  SetWord(heap, obj, kObjImage, 0);
  const int32 count = int16(GetNative16(*heap + obj + kObjImageCount));
  if (count < 0 || int64(kObjImageList) + int64(count) * entry > OHBlockSize(heap, obj)) {
    DBPrintf("MultiCosmetic OLoad: %ld images past the object", long(count));
    PutNative16(*heap + obj + kObjImageCount, 0);
    return kArgErr;
  }
  UHandle vi = Owner(heap);
  MgErr err = kNoErr;
  for (int32 i = 0; i < count; ++i) {
    const int32 at = kObjImageList + i * entry + refAt;
    if (err) {
      SetWord(heap, obj, at, 0);
      continue;
    }
    int32 ref = int32(Word(heap, obj, at));
    Rect bounds{};
    if (entry == kBigImageEntry) {
      const int32 r = kObjImageList + i * entry;
      bounds = Rect{int16(GetNative16(*heap + obj + r)), int16(GetNative16(*heap + obj + r + 2)),
                    int16(GetNative16(*heap + obj + r + 4)), int16(GetNative16(*heap + obj + r + 6))};
    }
    err = FPLoadObjImage(ObjLoadFile(), &ref, &bounds, vi ? VIRec(vi)->version : 0);
    SetWord(heap, obj, at, uInt32(ref));
  }
  const int32 index = int16(GetNative16(*heap + obj + kObjImageIndex));
  if (index >= 0 && index < count) SetWord(heap, obj, kObjImage, Word(heap, obj, kObjImageList + index * entry + refAt));
  return err;
}

int32 MultiCosmeticLoad(ObjHeap heap, int32 obj) { return MultiLoad(heap, obj, 4, 0); }
int32 BigMultiCosmeticLoad(ObjHeap heap, int32 obj) { return MultiLoad(heap, obj, kBigImageEntry, kBigImageRef); }

MgErr LoadText(ObjHeap heap, int32 obj, Bool32 full) {
  TRecord r = nullptr;
  if (MgErr err = TLoad(ObjLoadFile(), nullptr, GetRsrcCounter(), &r, full)) return err;
  SetWord(heap, obj, kObjText, uInt32(uintptr_t(r)));
  return kNoErr;
}

int32 LabelLoad(ObjHeap heap, int32 obj) {
  if (!Has(heap, obj, kObjText + 4)) return kArgErr;
  SetWord(heap, obj, kObjText, 0);
  if (MgErr err = CosmeticStep(heap, obj)) return err;
  if (!ObjWord(heap, obj, kObjOwner / 4)) {
    DBPrintf("LabelOLoadMethod: label without owner: h=0x%lx, c=0x%lx", long(uintptr_t(heap)), long(obj));
    return kArgErr;
  }
  const int16 part = ObjInt16(heap, obj, kObjPartId);
  Bool32 full = 1;
  if (part == 10 || part == 11 || part == 16) {
    int32 graph = 0;
    full = gCursorLegend && gCursorLegend(heap, obj, &graph) ? 1 : 0;
  }
  if (MgErr err = LoadText(heap, obj, full)) return err;
  if (part == 81) {
    const DColor fg = gDefaultTextColor, bg = kTransparentColor;
    TSetColors(HandleWord(heap, obj, kObjText), &fg, &bg, 0);
  }
  return 0;
}

int32 MultiLabelLoad(ObjHeap heap, int32 obj) {
  if (!Has(heap, obj, kObjStringList + 4)) return kArgErr;
  const bool hasList = Word(heap, obj, kObjStringList) != 0;
  SetWord(heap, obj, kObjStringList, 0);
  SetWord(heap, obj, kObjText, 0);
  if (MgErr err = CosmeticStep(heap, obj)) return err;
  UHandle list = nullptr;
  if (hasList) {
    if (MgErr err = RGetObjRsrc(kStringListType, &list)) return err;
    if (AZGetHandleSize(list) < 4) {
      AZDisposeHandle(list);
      return kArgErr;
    }
    PutNative32(*list, GetBE32(*list));
    SetWord(heap, obj, kObjStringList, uInt32(uintptr_t(list)));
  }
  if (MgErr err = LoadText(heap, obj, 1)) return err;
  if (list) UpdateBoolText(heap, obj, list, 0);
  return 0;
}

int32 WizardDataLoad(ObjHeap, int32) { return 0; }

// ---- Unload -----------------------------------------------------------------------------

void DisposeDescription(ObjHeap heap, int32 obj) {
  if (!Has(heap, obj, kObjDescription + 4)) return;
  UHandle h = HandleWord(heap, obj, kObjDescription);
  if (h && AZIsHandle(h)) AZDisposeHandle(h);
  SetWord(heap, obj, kObjDescription, 0);
}

void ReleaseImageWord(ObjHeap heap, int32 obj, int32 at) {
  const int32 ref = int32(Word(heap, obj, at));
  if (FPObjImageHeld(ref)) FPSetObjImage(ref);
  else ReleaseBuiltInPict(ref);  // a stateful picture's own copy
  SetWord(heap, obj, at, 0);
}

int32 DDODispose(ObjHeap heap, int32 obj) {
  DisposeDescription(heap, obj);
  return 0;
}

int32 SlideDispose(ObjHeap heap, int32 obj) {
  DisposeImageWord(heap, obj, kSlideImageAt);
  return DDODispose(heap, obj);
}
int32 GraphDispose(ObjHeap heap, int32 obj) {
  DisposeImageWord(heap, obj, kGraphPixmapByte);
  return DDODispose(heap, obj);
}
int32 PictureDispose(ObjHeap heap, int32 obj) {
  DisposeImageWord(heap, obj, kPictureCopyAt);
  return DDODispose(heap, obj);
}

int32 TableDispose(ObjHeap heap, int32 obj) {
  DisposeDescription(heap, obj);
  if (Has(heap, obj, kTableFonts + 4)) {
    DisposeTableFonts(HandleWord(heap, obj, kTableFonts));
    SetWord(heap, obj, kTableFonts, 0);
  }
  return 0;
}

int32 CosmeticDispose(ObjHeap heap, int32 obj) {
  if (Has(heap, obj, kObjImage + 4)) ReleaseImageWord(heap, obj, kObjImage);
  return 0;
}

int32 MultiDispose(ObjHeap heap, int32 obj, int32 entry, int32 refAt) {
  if (!Has(heap, obj, kObjImageList)) return 0;
  const int32 count = int16(GetNative16(*heap + obj + kObjImageCount));
  for (int32 i = 0; i < count && kObjImageList + int64(i + 1) * entry <= OHBlockSize(heap, obj); ++i)
    ReleaseImageWord(heap, obj, kObjImageList + i * entry + refAt);
  SetWord(heap, obj, kObjImage, 0);
  return 0;
}
int32 MultiCosmeticDispose(ObjHeap heap, int32 obj) { return MultiDispose(heap, obj, 4, 0); }
int32 BigMultiCosmeticDispose(ObjHeap heap, int32 obj) { return MultiDispose(heap, obj, kBigImageEntry, kBigImageRef); }

void DisposeText(ObjHeap heap, int32 obj) {
  if (!Has(heap, obj, kObjText + 4)) return;
  TRecord r = HandleWord(heap, obj, kObjText);
  SetWord(heap, obj, kObjText, 0);
  if (!r || !MemIsDSHandle(r)) return;
  const int32 ext = Extension(heap);
  if (ext && GetNative32(*heap + ext + kHeapExtFocusText) == uInt32(uintptr_t(r))) {
    PutNative32(*heap + ext + kHeapExtFocusText, 0);
    PutNative32(*heap + ext + kHeapExtKeyFocus, 0);
  }
  TDeactivate(r, 0);
  TDispose(r);
}

int32 LabelDispose(ObjHeap heap, int32 obj) {
  CosmeticDispose(heap, obj);
  DisposeText(heap, obj);
  return 0;
}

int32 MultiLabelDispose(ObjHeap heap, int32 obj) {
  LabelDispose(heap, obj);
  if (Has(heap, obj, kObjStringList + 4)) {
    UHandle list = HandleWord(heap, obj, kObjStringList);
    if (list && AZIsHandle(list)) AZDisposeHandle(list);
    SetWord(heap, obj, kObjStringList, 0);
  }
  return 0;
}

int32 FrontPanelDispose(ObjHeap heap, int32 obj) {
  DisposeDescription(heap, obj);
  if (!Has(heap, obj, kRootRegion + 4)) return 0;
  UHandle ds = HandleWord(heap, obj, kRootDataSpace);
  UHandle vi = Owner(heap);
  if (ds && MemIsDSHandle(ds) && DSGetHandleSize(ds) >= kDataSpaceHeaderSize) {
    DataSpaceHeader* h = reinterpret_cast<DataSpaceHeader*>(*ds);
    if (h->panel == heap) {
      h->panel = nullptr;
      h->panelFlag1 = h->panelFlag2 = vi && (VIRec(vi)->flags & kVIFlagPanelBinding) ? 1 : 0;
      h->panelOpen = 0;
    }
  }
  SetWord(heap, obj, kRootDataSpace, 0);
  SetWord(heap, obj, kRootRegion, 0);  // regions are not made from stored panels here
  return 0;
}

template <typename F>
ObjMethodAddr Addr(F* f) {
  return reinterpret_cast<ObjMethodAddr>(f);
}

}  // namespace

int32 OLoadDescription(ObjHeap heap, int32 object) { return DescriptionStep(heap, object); }
int32 OUnloadDescription(ObjHeap heap, int32 object) { return DDODispose(heap, object); }

void SetCursorLegendHook(CursorLegendProc proc) { gCursorLegend = proc; }
CursorLegendProc CursorLegendHookInUse() { return gCursorLegend; }


ObjMethodAddr OLoadMethodFor(int32 cls) {
  switch (cls) {
    case kClsDataDisplayObject: case kClsBoolean: case kClsString: case kClsCluster: case kClsUserItem:
    case kClsTypeDefinition: case kClsPath: case kClsRefNum: case kClsOleVariant:
      return Addr(&DDOLoad);
    case kClsPicture: return Addr(&PictureLoad);
    case kClsNumeric: case kClsColorBox: case kClsColorRamp: return Addr(&NumericLoad);
    case kClsRing: return Addr(&RingLoad);
    case kClsSlide: case kClsKnob: return Addr(&SlideLoad);
    case kClsArray: return Addr(&ArrayLoad);
    case kClsGraphChart: return Addr(&GraphLoad);
    case kClsTable: return Addr(&TableLoad);
    case kClsListbox: return Addr(&ListboxLoad);
    case kClsScale: return Addr(&ScaleLoad);
    case kClsTag: return Addr(&TagLoad);
    case kClsFPDataController: return Addr(&FPDCOLoad);
    case kClsFrontPanel: return Addr(&FrontPanelLoad);
    case kClsCosmetic: return Addr(&CosmeticLoad);
    case kClsMultiCosmetic: return Addr(&MultiCosmeticLoad);
    case kClsBigMultiCosmetic: return Addr(&BigMultiCosmeticLoad);
    case kClsLabel: case kClsSelLabel: return Addr(&LabelLoad);
    case kClsMultiLabel: case kClsBigMultiLabel: return Addr(&MultiLabelLoad);
    case kClsWizardData: return Addr(&WizardDataLoad);
    default: return nullptr;
  }
}

ObjMethodAddr ODisposeMethodFor(int32 cls) {
  switch (cls) {
    case kClsDataDisplayObject: case kClsBoolean: case kClsString: case kClsCluster: case kClsUserItem:
    case kClsTypeDefinition: case kClsPath: case kClsRefNum: case kClsOleVariant:
    case kClsNumeric: case kClsColorBox: case kClsColorRamp: case kClsRing: case kClsArray:
    case kClsListbox: case kClsTag:
      return Addr(&DDODispose);
    case kClsGraphChart: return Addr(&GraphDispose);
    case kClsSlide: case kClsKnob: return Addr(&SlideDispose);
    case kClsPicture: return Addr(&PictureDispose);
    case kClsTable: return Addr(&TableDispose);
    case kClsFrontPanel: return Addr(&FrontPanelDispose);
    case kClsCosmetic: return Addr(&CosmeticDispose);
    case kClsMultiCosmetic: return Addr(&MultiCosmeticDispose);
    case kClsBigMultiCosmetic: return Addr(&BigMultiCosmeticDispose);
    case kClsLabel: case kClsSelLabel: return Addr(&LabelDispose);
    case kClsMultiLabel: case kClsBigMultiLabel: return Addr(&MultiLabelDispose);
    default: return nullptr;
  }
}
