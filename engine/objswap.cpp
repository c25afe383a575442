// Object, resource and scrap converters of byte-order standardization.
#include "engine/objswap.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"

namespace {

// A field of a layout table.
struct Field {
  uInt32 offset;
  uChar width;  // 2 or 4
  uChar both;   // converted in both directions
};

constexpr Field I16(uInt32 off) { return {off, 2, 0}; }
constexpr Field I32(uInt32 off) { return {off, 4, 0}; }
constexpr Field I32Both(uInt32 off) { return {off, 4, 1}; }

// Swaps fields of one record, checking each against the record's size.
class Swapper {
 public:
  Swapper(uChar* d, uInt32 size, int32 mode) : d_(d), size_(size), mode_(mode) {}
  bool Has(uInt64 off, uInt64 n) const { return off <= size_ && n <= size_ - off; }
  // A table field: converted in direction 0 and when writing everything; in
  // direction 1 only when marked for both directions.
  void Do(const Field& f) {
    if (mode_ == kSwapToFile && !f.both) return;
    Swap(f.offset, f.width);
  }
  template <size_t N>
  void Table(const Field (&fields)[N]) {
    for (const Field& f : fields) Do(f);
  }
  void Swap(uInt32 off, uInt32 width) {
    if (bad_) return;
    if (!Has(off, width)) {
      bad_ = true;
      return;
    }
    if (width == 2)
      PutNative16(d_ + off, __builtin_bswap16(GetNative16(d_ + off)));
    else
      PutNative32(d_ + off, __builtin_bswap32(GetNative32(d_ + off)));
  }
  // A field that decides the layout: converted like a table field, and its
  // value in the processor's order (read after the swap in direction 0,
  // before it otherwise).  -1 when it lies past the end.
  int32 Layout(uInt32 off, uInt32 width) {
    if (bad_ || !Has(off, width)) {
      bad_ = true;
      return -1;
    }
    int32 v;
    if (mode_ == kSwapToMemory)
      v = width == 2 ? int16(GetBE16(d_ + off)) : int32(GetBE32(d_ + off));
    else
      v = width == 2 ? int16(GetNative16(d_ + off)) : int32(GetNative32(d_ + off));
    if (mode_ != kSwapToFile) Swap(off, width);
    return v;
  }
  uChar Byte(uInt32 off) {
    if (bad_ || !Has(off, 1)) {
      bad_ = true;
      return 0;
    }
    return d_[off];
  }
  void Fail() { bad_ = true; }
  bool Bad() const { return bad_; }
  uChar* Data() const { return d_; }
  uInt32 Size() const { return size_; }
  int32 Mode() const { return mode_; }
  MgErr Result() const { return bad_ ? kArgErr : kNoErr; }

 private:
  uChar* d_;
  uInt32 size_;
  int32 mode_;
  bool bad_ = false;
};

// ---- Class tables -------------------------------------------------------------------

constexpr Field kHdrExtFields[] = {I32(0),  I32(8),  I32(16), I32(100), I32(104), I32(116), I16(56),
                                   I16(58), I16(60), I16(62), I16(64),  I16(66),  I16(68),  I16(70),
                                   I16(72), I16(74), I16(84), I16(86)};
constexpr Field kCosmeticFields[] = {I32(0),  I32(4),  I32(24), I32(28), I32(32), I16(8),  I16(10),
                                     I16(12), I16(14), I16(16), I16(18), I16(20), I16(22)};
constexpr Field kMultiLabelFields[] = {I32Both(40)};
constexpr Field kSelLabelFields[] = {I32Both(40), I32Both(44)};
constexpr Field kAnnexFields[] = {I32(0),  I32(4),  I32(24), I32(28),
                                  I32(32), I16(8),  I16(10), I16(12), I16(14)};
constexpr Field kWizardFields[] = {I32(24), I32(28), I32(32), I32(40)};
constexpr Field kGrouperFields[] = {I32(0),  I32(4),  I32(24), I16(8),  I16(10), I16(12),
                                    I16(14), I16(16), I16(18), I16(20), I16(22)};
constexpr Field kDDOFields[] = {I32(36), I16(32), I16(34)};
constexpr Field kNumericFields[] = {I16(40), I32(44), I32(48)};
constexpr Field kColorBoxFields[] = {I32Both(52)};
constexpr Field kSlideFields[] = {I32Both(52), I32Both(56)};
constexpr Field kArrayFields[] = {I32(40), I32(52), I32(56), I16(44), I16(46), I16(48), I16(50)};
constexpr Field kClusterFields[] = {I32Both(40), I32Both(44)};
constexpr Field kRefNumFields[] = {I32Both(40)};
constexpr Field kTypeDefFields[] = {I32Both(44)};
constexpr Field kTableFields[] = {I32(40), I32(44), I32(48), I32(52), I32(56),
                                  I32(60), I32(64), I32(68), I32(72)};
constexpr Field kListboxFields[] = {I32(40), I32(44), I32(48), I32(52), I16(56), I16(58)};
constexpr Field kGraphFields[] = {I32(40), I32(44), I32(48), I32(52), I32(56), I32(60), I32(64), I32(68),
                                  I32(72), I32(76), I32(80), I32(84), I32(88), I32(92), I16(96), I16(98)};
constexpr Field kScaleFields[] = {I32(0),  I32(4),  I32(24), I32(28), I32(32), I16(8),  I16(10), I16(12),
                                  I16(14), I16(16), I16(18), I16(20), I16(22), I16(36), I16(38), I16(40),
                                  I16(42), I16(44), I16(46), I16(48), I16(50)};
constexpr Field kDCOFields[] = {I32(0), I32(4), I32(8), I32(12), I16(16)};
constexpr Field kFPDCOFields[] = {I32(20), I32(24), I32(28), I16(32)};

void SwapClass(Swapper& s, int32 cls);

void Cosmetic(Swapper& s) { s.Table(kCosmeticFields); }
void Label(Swapper& s) { Cosmetic(s); }
void MultiLabel(Swapper& s) {
  s.Table(kMultiLabelFields);
  Label(s);
}
void Grouper(Swapper& s) { s.Table(kGrouperFields); }
void DDO(Swapper& s) {
  Grouper(s);
  s.Table(kDDOFields);
}
void Numeric(Swapper& s) {
  s.Table(kNumericFields);
  DDO(s);
}
void Slide(Swapper& s) {
  s.Table(kSlideFields);
  Numeric(s);
}
void Cluster(Swapper& s) {
  s.Table(kClusterFields);
  DDO(s);
}
void DataController(Swapper& s) { s.Table(kDCOFields); }

void List(Swapper& s) {
  int32 n = s.Layout(0, 4);
  if (s.Bad() || n < 0 || !s.Has(4, uInt64(n) * 4)) {
    s.Fail();
    return;
  }
  for (int32 i = 0; i < n; ++i) s.Do(I32(uInt32(4 + 4 * i)));
}

void Descriptor(Swapper& s) {
  if (s.Mode() == kSwapAllToFile || s.Mode() == kSwapToFile) {
    if (StandardizeTDBounded(s.Data(), kToFileOrder, 0, int32(s.Size())) != kNoErr) s.Fail();
  } else if (StandardizeTDBounded(s.Data(), kToMemoryOrder, 0, int32(s.Size())) != kNoErr) {
    s.Fail();
  }
}

void BigMultiLabel(Swapper& s) {
  int32 n = s.Mode() == kSwapToFile ? 0 : s.Layout(48, 2);
  if (s.Bad() || n < 0 || !s.Has(52, uInt64(n) * 16)) {
    s.Fail();
    return;
  }
  for (int32 i = 0; i < n; ++i) {
    uInt32 b = uInt32(52 + 16 * i);
    s.Do(I16(b));
    s.Do(I16(b + 2));
    s.Do(I16(b + 4));
    s.Do(I16(b + 6));
    s.Do(I32(b + 8));
    s.Do(I32(b + 12));
  }
  MultiLabel(s);
}

void MultiCosmetic(Swapper& s) {
  int32 n = s.Mode() == kSwapToFile ? 0 : s.Layout(36, 2);
  s.Do(I16(38));
  if (s.Bad() || n < 0 || !s.Has(40, uInt64(n) * 4)) {
    s.Fail();
    return;
  }
  for (int32 i = 0; i < n; ++i) s.Do(I32(uInt32(40 + 4 * i)));
  Cosmetic(s);
}

void BigMultiCosmetic(Swapper& s) {
  int32 n = s.Mode() == kSwapToFile ? 0 : s.Layout(36, 2);
  s.Do(I16(38));
  if (s.Bad() || n < 0 || !s.Has(40, uInt64(n) * 20)) {
    s.Fail();
    return;
  }
  for (int32 i = 0; i < n; ++i) {
    uInt32 b = uInt32(40 + 20 * i);
    for (uInt32 k = 0; k < 4; ++k) s.Do(I16(b + 2 * k));
    for (uInt32 k = 0; k < 3; ++k) s.Do(I32(b + 8 + 4 * k));
  }
  Cosmetic(s);
}

void Ring(Swapper& s) {
  s.Do(I16(56));
  if (s.Size() > 64) {
    s.Do(I32(60));
    s.Do(I32(64));
  }
  Numeric(s);
}

void Knob(Swapper& s) {
  s.Do(I32Both(60));
  // The field at 64 is converted in both directions when the block holds it:
  // a Knob of 64 bytes, which has none, converts without it, so that its
  // panel heap can be written at all and reads back as it was.
  if (s.Size() > 64) s.Do(I32Both(64));
  Slide(s);
}

void FrontPanel(Swapper& s) {
  s.Do(I32(48));
  s.Do(I32(52));
  s.Do(I32(60));
  if (s.Size() >= 76) {
    s.Do(I32(68));
    s.Do(I32(72));
  }
  Cluster(s);
}

void ConnectorPane(Swapper& s) {
  s.Do(I32(0));
  for (uInt32 off : {4, 6, 8, 10}) s.Do(I16(off));
  uInt32 n = s.Byte(15);
  if (s.Bad() || !s.Has(16, n * 16)) {
    s.Fail();
    return;
  }
  for (uInt32 i = 0; i < n; ++i) {
    uInt32 b = uInt32(16 + 16 * i);
    s.Do(I32(b));
    for (uInt32 k = 0; k < 6; ++k) s.Do(I16(b + 4 + 2 * k));
  }
}

void SwapClass(Swapper& s, int32 cls) {
  switch (cls) {
    case kClsDataObject:
    case kClsTypeDescriptor: Descriptor(s); break;
    case kClsList:
    case kClsCrossList: List(s); break;
    case kClsObjHeapHdrExtension: s.Table(kHdrExtFields); break;
    case kClsCosmetic: Cosmetic(s); break;
    case kClsLabel: Label(s); break;
    case kClsMultiLabel: MultiLabel(s); break;
    case kClsBigMultiLabel: BigMultiLabel(s); break;
    case kClsMultiCosmetic: MultiCosmetic(s); break;
    case kClsBigMultiCosmetic: BigMultiCosmetic(s); break;
    case kClsSelLabel:
      s.Table(kSelLabelFields);
      Label(s);
      break;
    case kClsAnnex: s.Table(kAnnexFields); break;
    case kClsWizardData: s.Table(kWizardFields); break;
    case kClsGrouperObject: Grouper(s); break;
    case kClsDataDisplayObject:
    case kClsBoolean:
    case kClsString:
    case kClsPath:
    case kClsUserItem:
    case kClsTag:
    case kClsOleVariant: DDO(s); break;
    case kClsNumeric:
    case kClsColorRamp: Numeric(s); break;
    case kClsColorBox:
      s.Table(kColorBoxFields);
      Numeric(s);
      break;
    case kClsRing: Ring(s); break;
    case kClsSlide: Slide(s); break;
    case kClsKnob: Knob(s); break;
    case kClsArray:
      s.Table(kArrayFields);
      DDO(s);
      break;
    case kClsCluster: Cluster(s); break;
    case kClsFrontPanel: FrontPanel(s); break;
    case kClsRefNum:
    case kClsPicture:
      s.Table(kRefNumFields);
      DDO(s);
      break;
    case kClsTypeDefinition:
      s.Table(kTypeDefFields);
      DDO(s);
      break;
    case kClsTable:
      s.Table(kTableFields);
      DDO(s);
      break;
    case kClsListbox:
      s.Table(kListboxFields);
      DDO(s);
      break;
    case kClsGraphChart:
      s.Table(kGraphFields);
      DDO(s);
      break;
    case kClsScale: s.Table(kScaleFields); break;
    case kClsDataController: DataController(s); break;
    case kClsFPDataController:
      s.Table(kFPDCOFields);
      DataController(s);
      break;
    case kClsConnectorPane: ConnectorPane(s); break;
    default: s.Fail(); break;
  }
}

const int16 kConvertedClasses[] = {
    kClsList, kClsDataObject, kClsCosmetic, kClsLabel, kClsMultiCosmetic, kClsBigMultiCosmetic,
    kClsMultiLabel, kClsBigMultiLabel, kClsDataController, kClsFPDataController, kClsFrontPanel,
    kClsDataDisplayObject, kClsBoolean, kClsNumeric, kClsString, kClsArray, kClsCluster, kClsRefNum,
    kClsColorBox, kClsRing, kClsSlide, kClsKnob, kClsPath, kClsTable, kClsGraphChart, kClsPicture,
    kClsUserItem, kClsTypeDefinition, kClsColorRamp, kClsAnnex, kClsListbox, kClsCrossList,
    kClsObjHeapHdrExtension, kClsConnectorPane, kClsTypeDescriptor, kClsScale, kClsTag, kClsSelLabel,
    kClsWizardData, kClsOleVariant, kClsGrouperObject};

template <int16 Cls>
MgErr OSwap(ObjHeap heap, int32 offset, int32 direction) {
  if (!heap || !*heap || offset <= 0) return kArgErr;
  if (direction != kToMemoryOrder && direction != kToFileOrder) return kArgErr;
  int32 size = OHBlockSize(heap, offset);
  if (size <= 0) return kArgErr;
  return SwapObjectData(*heap + offset, size, Cls, direction);
}

// The registered converters; the engine's own classes are there from the start.
constexpr int32 kMaxClass = 256;
std::atomic<ObjSwapProc> gRegistered[kMaxClass] = {};
struct EngineClasses {
  EngineClasses() {
    gRegistered[kClsList].store(ObjSwapForClass(kClsList));
    gRegistered[kClsObjHeapHdrExtension].store(ObjSwapForClass(kClsObjHeapHdrExtension));
    gRegistered[kClsTypeDescriptor].store(ObjSwapForClass(kClsTypeDescriptor));
  }
};
void EnsureEngineClasses() { static EngineClasses once; }

}  // namespace

MgErr SwapObjectData(uChar* data, int32 size, int32 cls, int32 mode) {
  if (!data || size < 0) return kArgErr;
  Swapper s(data, uInt32(size), mode);
  SwapClass(s, cls);
  return s.Result();
}

ObjSwapProc ObjSwapForClass(int32 cls) {
  switch (cls) {
#define QX_CONVERTED(C) \
  case C: return &OSwap<C>;
    QX_CONVERTED(kClsList) QX_CONVERTED(kClsDataObject) QX_CONVERTED(kClsCosmetic) QX_CONVERTED(kClsLabel)
    QX_CONVERTED(kClsMultiCosmetic) QX_CONVERTED(kClsBigMultiCosmetic) QX_CONVERTED(kClsMultiLabel)
    QX_CONVERTED(kClsBigMultiLabel) QX_CONVERTED(kClsDataController) QX_CONVERTED(kClsFPDataController)
    QX_CONVERTED(kClsFrontPanel) QX_CONVERTED(kClsDataDisplayObject) QX_CONVERTED(kClsBoolean)
    QX_CONVERTED(kClsNumeric) QX_CONVERTED(kClsString) QX_CONVERTED(kClsArray) QX_CONVERTED(kClsCluster)
    QX_CONVERTED(kClsRefNum) QX_CONVERTED(kClsColorBox) QX_CONVERTED(kClsRing) QX_CONVERTED(kClsSlide)
    QX_CONVERTED(kClsKnob) QX_CONVERTED(kClsPath) QX_CONVERTED(kClsTable) QX_CONVERTED(kClsGraphChart)
    QX_CONVERTED(kClsPicture) QX_CONVERTED(kClsUserItem) QX_CONVERTED(kClsTypeDefinition)
    QX_CONVERTED(kClsColorRamp) QX_CONVERTED(kClsAnnex) QX_CONVERTED(kClsListbox) QX_CONVERTED(kClsCrossList)
    QX_CONVERTED(kClsObjHeapHdrExtension) QX_CONVERTED(kClsConnectorPane) QX_CONVERTED(kClsTypeDescriptor)
    QX_CONVERTED(kClsScale) QX_CONVERTED(kClsTag) QX_CONVERTED(kClsSelLabel) QX_CONVERTED(kClsWizardData)
    QX_CONVERTED(kClsOleVariant) QX_CONVERTED(kClsGrouperObject)
#undef QX_CONVERTED
    default: return nullptr;
  }
}

int32 ObjSwapClasses(const int16** list) {
  if (list) *list = kConvertedClasses;
  return int32(sizeof kConvertedClasses / sizeof kConvertedClasses[0]);
}

ObjSwapProc SetObjSwapProc(int32 cls, ObjSwapProc proc) {
  if (cls < 0 || cls >= kMaxClass) return nullptr;
  EnsureEngineClasses();
  return gRegistered[cls].exchange(proc);
}

ObjSwapProc GetObjSwapProc(int32 cls) {
  if (cls < 0 || cls >= kMaxClass) return nullptr;
  EnsureEngineClasses();
  return gRegistered[cls].load();
}

MgErr OSwapByClass(ObjHeap heap, int32 offset, int32 direction) {
  ObjSwapProc p = GetObjSwapProc(OHBlockClass(heap, offset));
  return p ? p(heap, offset, direction) : kNoErr;
}

// ---- Resources ---------------------------------------------------------------------------

namespace {

constexpr Field kCosmRsrc[] = {I32(0),  I16(4),  I16(6),  I16(8),  I16(10), I16(12),
                               I16(14), I16(16), I16(18), I32(20), I32(24), I32(28), I32(32)};

void DDODRsrc(Swapper& s) {
  s.Do(I32(0));
  s.Do(I16(4));
  s.Do(I16(6));
  s.Do(I16(8));
  int32 n = s.Layout(10, 2);
  if (s.Bad() || n < 0 || !s.Has(12, uInt64(n) * 8)) return s.Fail();
  for (int32 i = 0; i < n; ++i) {
    uInt32 b = uInt32(12 + 8 * i);
    s.Do(I32(b));
    s.Do(I16(b + 4));
    s.Do(I16(b + 6));
  }
}

void MCosRsrc(Swapper& s) {
  s.Do(I32(0));
  for (uInt32 off = 4; off <= 18; off += 2) s.Do(I16(off));
  s.Do(I32(20));
  s.Do(I32(24));
  int32 n = s.Layout(28, 4);
  if (s.Bad() || n < 0 || !s.Has(32, uInt64(n) * 8)) return s.Fail();
  for (int32 i = 0; i < n; ++i) {
    s.Do(I32(uInt32(32 + 8 * i)));
    s.Do(I32(uInt32(36 + 8 * i)));
  }
}

void BCosRsrc(Swapper& s) {
  s.Do(I32(0));
  for (uInt32 off : {4, 6, 8, 10}) s.Do(I16(off));
  int32 n = s.Layout(12, 4);
  if (s.Bad() || n < 0 || !s.Has(16, uInt64(n) * 24)) return s.Fail();
  for (int32 i = 0; i < n; ++i) {
    uInt32 b = uInt32(16 + 24 * i);
    for (uInt32 k = 0; k < 4; ++k) s.Do(I16(b + 2 * k));
    for (uInt32 k = 0; k < 4; ++k) s.Do(I32(b + 8 + 4 * k));
  }
}

void SNUMRsrc(Swapper& s) {
  s.Do(I16(0));
  s.Do(I16(2));
  uInt32 off = 4;
  for (int i = 0; i < 4 && !s.Bad(); ++i) {
    int32 len = s.Layout(off, 4);
    if (s.Bad() || len < 0) return s.Fail();
    uInt32 room = (uInt32(len) + 3) & ~3u;
    if (!s.Has(off + 4, room)) return s.Fail();
    off += 4 + room;
  }
}

void LablRsrc(Swapper& s) {
  s.Do(I32(0));
  for (uInt32 off = 4; off <= 18; off += 2) s.Do(I16(off));
  for (uInt32 off : {20, 24, 28, 32, 36}) s.Do(I32(off));
  for (uInt32 off : {40, 42, 44, 46}) s.Do(I16(off));
  s.Do(I32(48));
  uChar len = s.Byte(52);
  if (s.Bad()) return;
  uInt32 after = 52 + uInt32(PaddedPStrRoom(len));
  s.Swap(after, 4);
}

// A padded Pascal string at off: the offset after it, or 0 when it runs past the end.
uInt32 SkipPStr(Swapper& s, uInt32 off) {
  uChar len = s.Byte(off);
  if (s.Bad()) return 0;
  uInt32 next = off + uInt32(PaddedPStrRoom(len));
  if (next > s.Size()) {
    s.Fail();
    return 0;
  }
  return next;
}

// "MLbl": the head, colours, an image count and (kind, number) pairs, a font
// word, then a count of texts and the padded Pascal strings.
void MLblRsrc(Swapper& s) {
  s.Do(I32(0));
  for (uInt32 off = 4; off <= 18; off += 2) s.Do(I16(off));
  s.Do(I32(20));
  s.Do(I32(24));
  int32 n = s.Layout(28, 4);
  if (s.Bad() || n < 0 || !s.Has(32, uInt64(n) * 8 + 8)) return s.Fail();
  for (int32 i = 0; i < n; ++i) {
    s.Do(I32(uInt32(32 + 8 * i)));
    s.Do(I32(uInt32(36 + 8 * i)));
  }
  uInt32 p = 32 + 8 * uInt32(n);
  s.Do(I32(p));
  int32 k = s.Layout(p + 4, 4);
  if (s.Bad() || k < 0) return s.Fail();
  p += 8;
  for (int32 i = 0; i < k && !s.Bad(); ++i) p = SkipPStr(s, p);
}

// The start of a scrap object record's body: a padded name, a count k, then k
// sub-records of which only the leading total length (counting itself) is converted.
void SwapScrapObjRecord(Swapper& s, uInt32 off, uInt32 end) {
  uInt32 p = SkipPStr(s, off);
  if (s.Bad() || p + 4 > end) return s.Fail();
  int32 k = s.Layout(p, 4);
  if (s.Bad() || k < 0) return s.Fail();
  p += 4;
  for (int32 i = 0; i < k; ++i) {
    if (p + 4 > end) return s.Fail();
    int32 len = s.Layout(p, 4);
    if (s.Bad() || len < 4 || uInt32(len) > end - p) return s.Fail();
    p += uInt32(len);
  }
}

// An object list: int32 count, then that many int32.  Returns the offset after it.
uInt32 ObjectList(Swapper& s, uInt32 off) {
  int32 n = s.Layout(off, 4);
  if (s.Bad() || n < 0 || !s.Has(off + 4, uInt64(n) * 4)) {
    s.Fail();
    return 0;
  }
  for (int32 i = 0; i < n; ++i) s.Swap(off + 4 + 4 * uInt32(i), 4);
  return off + 4 + 4 * uInt32(n);
}

void Scrap(Swapper& s) {
  s.Swap(0, 4);
  s.Swap(4, 4);
  for (uInt32 off = 8; off <= 18; off += 2) s.Swap(off, 2);
  for (uInt32 off : {20u, 24u, 28u}) s.Swap(off, 4);
  uInt32 p = SkipPStr(s, 32);
  if (s.Bad()) return;
  int32 n = s.Layout(p, 4);
  if (s.Bad() || n < 0) return s.Fail();
  p += 4;
  for (int32 i = 0; i < n; ++i) {
    int32 len = s.Layout(p, 4);
    if (s.Bad() || len < 4 || uInt32(len) > s.Size() - p) return s.Fail();
    SwapScrapObjRecord(s, p + 4, p + uInt32(len));
    if (s.Bad()) return;
    p += uInt32(len);
  }
  p = ObjectList(s, p);
  if (s.Bad()) return;
  if (p < s.Size()) ObjectList(s, p);
}

// Resource converters act in direction 0 only, apart from 'SLBX'.
MgErr ConvertRsrc(uInt32 type, void* rec, int32 direction, int32 size) {
  if (!rec || size < 0 || (direction != kToMemoryOrder && direction != kToFileOrder)) return kArgErr;
  if (direction == kToFileOrder && type != kRsrcSLBX) return kNoErr;
  return SwapRsrcData(type, static_cast<uChar*>(rec), size, direction == kToMemoryOrder ? kSwapToMemory
                                                                                       : kSwapAllToFile);
}

}  // namespace

MgErr SwapRsrcData(uInt32 type, uChar* rec, int32 size, int32 mode) {
  if (!rec || size < 0) return kArgErr;
  // Resource layouts have no fields marked for both directions: writing is all or nothing.
  Swapper s(rec, uInt32(size), mode == kSwapToFile ? kSwapAllToFile : mode);
  switch (type) {
    case kRsrcDDOD: DDODRsrc(s); break;
    case kRsrcCosm: s.Table(kCosmRsrc); break;
    case kRsrcMCos: MCosRsrc(s); break;
    case kRsrcBCos: BCosRsrc(s); break;
    case kRsrcSNUM: SNUMRsrc(s); break;
    case kRsrcSLBX:
      s.Swap(0, 4);
      s.Swap(4, 4);
      break;
    case kRsrcLabl: LablRsrc(s); break;
    case kRsrcMLbl: MLblRsrc(s); break;
    default: s.Fail(); break;
  }
  return s.Result();
}

MgErr SwapScrapData(uChar* scrap, int32 size, int32 mode) {
  if (!scrap || size < 0) return kArgErr;
  Swapper s(scrap, uInt32(size), mode == kSwapToFile ? kSwapAllToFile : mode);
  Scrap(s);
  return s.Result();
}

MgErr SwapDDODRsrc(void* rec, int32 direction, int32 size) { return ConvertRsrc(kRsrcDDOD, rec, direction, size); }
MgErr SwapCosmRsrc(void* rec, int32 direction, int32 size) { return ConvertRsrc(kRsrcCosm, rec, direction, size); }
MgErr SwapMCosRsrc(void* rec, int32 direction, int32 size) { return ConvertRsrc(kRsrcMCos, rec, direction, size); }
MgErr SwapBCosRsrc(void* rec, int32 direction, int32 size) { return ConvertRsrc(kRsrcBCos, rec, direction, size); }
MgErr SwapSNUMRsrc(void* rec, int32 direction, int32 size) { return ConvertRsrc(kRsrcSNUM, rec, direction, size); }
MgErr SwapSLBXRsrc(void* rec, int32 direction, int32 size) { return ConvertRsrc(kRsrcSLBX, rec, direction, size); }
MgErr SwapLablRsrc(void* rec, int32 direction, int32 size) { return ConvertRsrc(kRsrcLabl, rec, direction, size); }

MgErr SwapScrapRsrc(void* scrap, int32 direction, int32 size) {
  if (!scrap || size < 0 || (direction != kToMemoryOrder && direction != kToFileOrder)) return kArgErr;
  if (direction == kToFileOrder) return kNoErr;
  return SwapScrapData(static_cast<uChar*>(scrap), size, kSwapToMemory);
}
