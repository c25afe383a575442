// The property procedures of the control classes.  Each takes the selector
// inside its own table; values move through the shared value procedures of
// the property frame.
#include "panel/ctlattr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/panelroutines.h"
#include "engine/exec/runcmd.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/printf.h"
#include "mgsource/window/textdraw.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/booltext.h"
#include "panel/ctrl_internal.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/objload.h"
#include "panel/objsize.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/paneldisplay.h"
#include "rtlib/panellocators.h"

using ctrl::Flags;
using ctrl::Has;
using ctrl::IsObj;

namespace {

const char kSource[] = "ctlattr";

constexpr uInt32 kTransparent = 0x1000000;
constexpr int32 kReplyGeometry = 0x30080, kReplyRedraw = 0x30000, kReplyColours = 0x20100;
constexpr uInt32 kFlagBusy = 0x80000;
constexpr uInt32 kSlideFlagFixedScale = 0x100000;
constexpr uInt32 kPictureFlagKeep = 0x20000;
constexpr int32 kMultiLabelIndexWord = 10;
constexpr int32 kRingFlagArrayTable = 12;
constexpr int32 kSizeMin = 1, kSizeMax = 16000;

ScaleAttrHooks gScaleHooks{};

// ---- Table descriptors -------------------------------------------------------------------

// Descriptors in memory order: a 16-bit size, the code byte and the flags
// byte, then the code's own words.
using Bytes = std::vector<uChar>;
void Put16(Bytes& b, size_t at, int32 v) {
  const uInt16 w = uInt16(v);
  std::memcpy(b.data() + at, &w, 2);
}
Bytes Head(uChar code) { return Bytes{0, 0, code, 0}; }
Bytes Sized(Bytes b) {
  if (b.size() & 1) b.push_back(0);
  Put16(b, 0, int32(b.size()));
  return b;
}
Bytes Num(uChar code) { return Sized(Head(code)); }
Bytes U8() { return Num(kTDU8); }
Bytes U32() { return Num(kTDU32); }
Bytes I32() { return Num(kTDI32); }
Bytes Dbl() { return Num(kTDDBL); }
Bytes Bool() { return Num(kTDBoolean); }
Bytes Str() {
  Bytes b = Head(kTDString);
  b.insert(b.end(), {0xFF, 0xFF, 0xFF, 0xFF});
  return Sized(b);
}
Bytes Arr(const Bytes& elem) {
  Bytes b = Head(kTDArray);
  b.insert(b.end(), {1, 0, 0xFF, 0xFF, 0xFF, 0xFF});
  b.insert(b.end(), elem.begin(), elem.end());
  return Sized(b);
}
Bytes Clu(std::initializer_list<Bytes> elems) {
  Bytes b = Head(kTDCluster);
  b.push_back(0);
  b.push_back(0);
  Put16(b, 4, int32(elems.size()));
  for (const Bytes& e : elems) b.insert(b.end(), e.begin(), e.end());
  return Sized(b);
}
Bytes SizePair() { return Clu({U32(), U32()}); }
Bytes ColourPair() { return Clu({U32(), U32()}); }
Bytes FormatPair() { return Clu({U8(), U8()}); }
Bytes ScaleCluster() { return Clu({U8(), Clu({U8(), U8()}), Clu({Dbl(), Dbl(), Dbl()}), Bool(), U8(), Bool()}); }

// ---- Values --------------------------------------------------------------------------------

struct Call {
  ObjHeap heap;
  int32 object;
  AttrCallRec* rec;
  const TypeDescriptor* td;
  void* value;
  bool read;
};

int32 Part(const Call& c, int32 id, int32 order = 0) { return FindPart(c.heap, c.object, id, order); }

int32 SizeRow(const Call& c, int32 partId, int32 mode) {
  return c.read ? GetPartSizeAttr(c.heap, c.object, partId, 0, mode, c.td, c.value)
                : SetPartSizeByIdAttr(c.heap, c.object, partId, 0, mode, c.td, c.value, c.rec);
}
int32 TextColourRow(const Call& c, int32 partId, int32 mode) {
  return c.read ? GetTextColorsAttr(c.heap, c.object, partId, 0, mode, c.td, c.value)
                : SetTextColorsAttr(c.heap, c.object, partId, 0, mode, c.td, c.value, c.rec);
}
int32 PartColourRow(const Call& c, int32 partId, int32 order, int32 mode) {
  return c.read ? GetPartColorsAttr(c.heap, c.object, partId, order, mode, c.td, c.value)
                : SetPartColorsAttr(c.heap, c.object, partId, order, mode, c.td, c.value, c.rec);
}
int32 ReadInt(const Call& c, int32 internal, int32 v) {
  AttrGetNum(c.td, c.value, internal, &v);
  return 0;
}
bool TakeInt(const Call& c, int32* v) { return AttrPutNum(c.td, c.value, kTDI32, v); }
int32 ReadBool(const Call& c, bool on) {
  AttrPutBool(c.td, c.value, on);
  return 0;
}
bool TakeBool(const Call& c, bool* on) { return AttrGetBool(c.td, c.value, on); }

int32 BadIndex(const char* function, int32 selector) {
  char text[64];
  std::snprintf(text, sizeof text, "bad index in %s %ld", function, long(selector));
  DBPrintf("%s", text);
  DBAssert(kSource, __LINE__, text);
  return 0;
}

// An array value's handle cell and its elements: the element descriptor,
// the count and the element size; false for a value that is no 1-D array.
struct ArrayValue {
  UHandle* cell;
  const TypeDescriptor* elem;
  int32 count;
  int32 size;
};
bool ArrayOf(const Call& c, ArrayValue* a) {
  if (!c.td || !c.value || c.td->code != kTDArray) return false;
  if (int16(GetNative16(reinterpret_cast<const uChar*>(c.td) + 4)) != 1) return false;
  // The element follows the one dimension's bound; it must lie inside the
  // array's descriptor.
  const uChar* at = reinterpret_cast<const uChar*>(c.td);
  const int32 size = GetNative16(at);
  if (size < 10 + 4) return false;
  const auto* elem = reinterpret_cast<const TypeDescriptor*>(at + 10);
  if (GetNative16(at + 10) < 4 || 10 + GetNative16(at + 10) > size) return false;
  a->elem = SkipTypedefs(elem);
  if (!a->elem) return false;
  a->cell = static_cast<UHandle*>(c.value);
  a->size = DataSize(a->elem);
  a->count = 0;
  UHandle h = *a->cell;
  if (h) {
    if (DSCheckHandle(h) != kNoErr || DSGetHandleSize(h) < 4) return false;
    const int32 n = int32(GetNative32(*h));
    if (n < 0 || a->size <= 0 || int64(n) * a->size > DSGetHandleSize(h) - 4) return false;
    a->count = n;
  }
  return a->size > 0;
}
UPtr ElementAt(const ArrayValue& a, int32 i) { return *(*a.cell) + 4 + a.size * i; }
// Whether the element descriptor is a number the value procedures move.
bool IsNumber(const TypeDescriptor* td) {
  alignas(16) uChar zero[32] = {};
  int32 x = 0;
  return DataSize(td) <= int32(sizeof zero) && AttrPutNum(td, zero, kTDI32, &x);
}

// Gives the array value n elements (see AttrResizeArray).
bool ResizeArray(ArrayValue* a, int32 n) {
  if (!AttrResizeArray(a->cell, a->elem, a->size, a->count, n)) return false;
  a->count = n;
  return true;
}

// Pascal strings of a counted list that fits its handle (any zone).
int32 AnySize(const void* h) {
  if (!h) return -1;
  if (DSCheckHandle(h) == kNoErr) return DSGetHandleSize(UHandle(const_cast<void*>(h)));
  if (AZCheckHandle(h) == kNoErr) return AZGetHandleSize(UHandle(const_cast<void*>(h)));
  return -1;
}
bool ListStrings(UHandle h, std::vector<std::string>* out) {
  out->clear();
  const int32 size = AnySize(h);
  if (size < 4) return false;
  const UPtr p = *h;
  const int32 n = int32(GetNative32(p));
  int64 at = 4;
  for (int32 i = 0; n >= 0 && i < n; ++i) {
    if (at >= size || at + 1 + p[at] > size) return false;
    out->emplace_back(reinterpret_cast<const char*>(p + at + 1), p[at]);
    at += 1 + p[at];
  }
  return n >= 0;
}
MgErr StoreList(UHandle h, const std::vector<std::string>& s) {
  int32 bytes = 4;
  for (const std::string& x : s) bytes += 1 + int32(x.size());
  const MgErr err = DSCheckHandle(h) == kNoErr ? DSSetHandleSize(h, bytes) : AZSetHandleSize(h, bytes);
  if (err) return err;
  UPtr p = *h;
  PutNative32(p, uInt32(s.size()));
  int32 at = 4;
  for (const std::string& x : s) {
    p[at] = uChar(x.size());
    std::memcpy(p + at + 1, x.data(), x.size());
    at += 1 + int32(x.size());
  }
  return kNoErr;
}
UHandle ListOf(ObjHeap heap, int32 part) {
  return Has(heap, part, kObjStringList + 4)
             ? reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, part, kObjStringList / 4))))
             : nullptr;
}

// The strings of an array-of-strings value (each cut to 255 characters);
// false for a value of another shape.
bool TakeStrings(const Call& c, std::vector<std::string>* out) {
  ArrayValue a;
  if (!ArrayOf(c, &a) || a.elem->code != kTDString) return false;
  out->clear();
  for (int32 i = 0; i < a.count; ++i) {
    UHandle s;
    std::memcpy(&s, ElementAt(a, i), sizeof s);
    std::string text;
    if (s && DSCheckHandle(s) == kNoErr && DSGetHandleSize(s) >= 4) {
      const int32 n = std::clamp<int32>(int32(GetNative32(*s)), 0, DSGetHandleSize(s) - 4);
      text.assign(reinterpret_cast<const char*>(*s + 4), size_t(std::min(n, 255)));
    }
    out->push_back(std::move(text));
  }
  return true;
}
// 0, or 0x10 when memory ran out.
int32 GiveStrings(const Call& c, const std::vector<std::string>& s) {
  ArrayValue a;
  if (!ArrayOf(c, &a) || a.elem->code != kTDString) return 0;
  if (!ResizeArray(&a, int32(s.size()))) return kAttrReplyMemFull;
  for (int32 i = 0; i < a.count; ++i) {
    UHandle e;
    std::memcpy(&e, ElementAt(a, i), sizeof e);
    const int32 bytes = 4 + int32(s[size_t(i)].size());
    if (e && DSCheckHandle(e) == kNoErr) {
      if (DSSetHandleSize(e, bytes) != kNoErr) return kAttrReplyMemFull;
    } else if (!(e = DSNewHandle(bytes))) {
      return kAttrReplyMemFull;
    }
    PutNative32(*e, uInt32(s[size_t(i)].size()));
    std::memcpy(*e + 4, s[size_t(i)].data(), s[size_t(i)].size());
    std::memcpy(ElementAt(a, i), &e, sizeof e);
  }
  return 0;
}

// ---- Number formats ------------------------------------------------------------------------

int32 FormatRow(const Call& c, int32 mode) {
  AttrPair pair;
  if (!AttrSplitPair(c.td, c.value, mode, &pair)) return 0;
  const int32 code = ctrl::FormatOf(c.heap, c.object);
  int16 fp[2] = {0, 0};
  DecodeNumFormat(code, &fp[0], &fp[1]);
  if (c.read) {
    for (int32 k = 0; k < 2; ++k) {
      const int16 v = int16(fp[k]);
      if (pair.td[k]) AttrGetNum(pair.td[k], pair.value[k], kTDI16, &v);
    }
    return 0;
  }
  for (int32 k = 0; k < 2; ++k) {
    int16 v = int16(fp[k]);
    if (pair.td[k] && AttrPutNum(pair.td[k], pair.value[k], kTDI16, &v)) fp[k] = v;
  }
  NumFormatCode next = NumFormatCode(code);
  if (!EncodeNumFormat(&next, fp[0], fp[1]) || next == code) return 0;
  if (!AttrNumTypeCheck(ctrl::TypeCodeOf(c.heap, c.object), next)) return 0;
  if (!Has(c.heap, c.object, kNumericFormat + 2)) return 0;
  PutNative16(*c.heap + c.object + kNumericFormat, uInt16(next));
  const void* data = reinterpret_cast<const void*>(
      uintptr_t(uInt32(OGetDataPtr(c.heap, c.object, 0, kDataPtrOperate, nullptr))));
  int32 reply = DisplayValQuiet(c.heap, c.object, data, 0) + kAttrReplyState;
  const int32 radix = Part(c, ctrl::kPartRadix);
  if (IsObj(c.heap, radix) && !ctrl::Hidden(c.heap, radix)) {
    OInval(c.heap, radix, kInvalAll);
    reply |= kAttrReplyRedrawn;
  }
  return reply;
}

// ---- The classes ---------------------------------------------------------------------------

int32 Numeric(const Call& c, int32 s) {
  switch (s) {
    case 0: return SizeRow(c, ctrl::kPartDigitalText, 1);
    case 1: case 2: case 3: return FormatRow(c, s - 1);
    case 4: case 5: case 6: return TextColourRow(c, ctrl::kPartDigitalText, s - 4);
    default: return BadIndex("snumattr", s);
  }
}

int32 ColorBox(const Call& c, int32 s) {
  if (s < 0 || s > 2) return BadIndex("colorNum", s);
  return SizeRow(c, ctrl::kPartSwatch, s);
}

// The strings of a Boolean's text part into its four state slots.
int32 BoolStrings(const Call& c) {
  const int32 text = Part(c, ctrl::kPartBoolText);
  UHandle list = ListOf(c.heap, text);
  std::vector<std::string> old;
  if (!ListStrings(list, &old)) {
    if (c.read) return GiveStrings(c, {});
    return 0;
  }
  if (c.read) return GiveStrings(c, old);
  std::vector<std::string> given;
  if (!TakeStrings(c, &given)) return 0;
  const int32 n = std::min<int32>(int32(given.size()), 4);
  std::vector<std::string> slots = old;
  if (n > 0 && slots.size() < 4) slots.resize(4);
  for (int32 slot = 0; slot < 4 && n > 0; ++slot) {
    const int32 from = n == 1 ? 0 : n == 2 ? slot & 1 : slot;
    if (from < n) slots[size_t(slot)] = given[size_t(from)];
  }
  if (slots == old) return 0;
  ctrl::SetFlags(c.heap, text, Flags(c.heap, text) | kFlagBusy);
  OInval(c.heap, c.object, kInvalAll);
  if (StoreList(list, slots)) return kAttrReplyMemFull;
  const int32 state = Has(c.heap, text, 4 * (kMultiLabelIndexWord + 1)) ? ObjWord(c.heap, text, kMultiLabelIndexWord) : 0;
  if (UpdateBoolText(c.heap, text, list, state) == kMemFullErr) return kAttrReplyMemFull;
  OSize(c.heap, text, nullptr, 0);
  OInval(c.heap, c.object, kInvalAll);
  c.rec->partId = ctrl::kPartBoolText;
  c.rec->partOrder = 0;
  return kReplyGeometry;
}

int32 StateCountOf(ObjHeap heap, int32 face) {
  if (ObjClass(heap, face) != kClsBigMultiCosmetic || !Has(heap, face, kObjImageList)) return 0;
  return std::clamp<int32>(ObjInt16(heap, face, kObjImageCount), 0,
                           std::min<int32>(4, (OHBlockSize(heap, face) - kObjImageList) / kBigImageEntry));
}
int32 PairWord(int32 state, int32 which) { return (kObjImageList + kBigImageEntry * state + 8) / 4 + which; }

int32 BoolColours(const Call& c) {
  const int32 face = Part(c, ctrl::kPartButton);
  ArrayValue a;
  if (!IsObj(c.heap, face) || !ArrayOf(c, &a) || a.elem->code != kTDCluster) return 0;
  const int32 states = StateCountOf(c.heap, face);
  if (c.read) {
    const int32 n = states ? states : 1;
    if (!ResizeArray(&a, n)) return kAttrReplyMemFull;
    for (int32 i = 0; i < n; ++i) {
      AttrPair pair;
      if (!AttrSplitPair(a.elem, ElementAt(a, i), 0, &pair)) return 0;
      const uInt32 v[2] = {states ? uInt32(ObjWord(c.heap, face, PairWord(i, 0))) : ctrl::PartFore(c.heap, face),
                           states ? uInt32(ObjWord(c.heap, face, PairWord(i, 1))) : ctrl::PartBack(c.heap, face)};
      for (int32 k = 0; k < 2; ++k) AttrGetNum(pair.td[k], pair.value[k], kTDU32, &v[k]);
    }
    return 0;
  }
  auto pairAt = [&](int32 i, uInt32 v[2]) {
    AttrPair pair;
    if (!AttrSplitPair(a.elem, ElementAt(a, i), 0, &pair)) return false;
    for (int32 k = 0; k < 2; ++k) AttrPutNum(pair.td[k], pair.value[k], kTDU32, &v[k]);
    return true;
  };
  bool changed = false, transparent = false;
  auto note = [&](uInt32 f, uInt32 b) { transparent = transparent || f == kTransparent || b == kTransparent; };
  if (states) {
    const int32 n = std::min(a.count, states);
    for (int32 state = 0; state < states && n > 0; ++state) {
      const int32 from = n == 1 ? 0 : (n == 2 && states == 4) ? state & 1 : state;
      uInt32 v[2] = {0, 0};
      if (from >= n || !pairAt(from, v) || v[0] > kTransparent || v[1] > kTransparent) continue;
      note(uInt32(ObjWord(c.heap, face, PairWord(state, 0))), uInt32(ObjWord(c.heap, face, PairWord(state, 1))));
      note(v[0], v[1]);
      changed |= SetMultiCosmeticStateColors(c.heap, face, v[0], v[1], kColorBoth, state) != 0;
    }
  } else if (a.count > 0) {
    uInt32 v[2] = {0, 0};
    if (pairAt(0, v) && (v[0] != ctrl::PartFore(c.heap, face) || v[1] != ctrl::PartBack(c.heap, face))) {
      note(ctrl::PartFore(c.heap, face), ctrl::PartBack(c.heap, face));
      note(v[0], v[1]);
      ctrl::SetPartColours(c.heap, face, v[0], v[1]);
      changed = true;
    }
  }
  if (!changed) return 0;
  if (transparent) {
    const int32 root = int32(ctrl::Ext(c.heap, kHeapExtRoot));
    if (IsObj(c.heap, root)) ctrl::SetFlags(c.heap, root, Flags(c.heap, root) | kRootFlagTransparent);
    FPInvalDiff(c.heap, face);
  }
  OInval(c.heap, face, kInvalAll);
  return kReplyColours;
}

int32 Boolean(const Call& c, int32 s) {
  switch (s) {
    case 0: case 1: case 2: return SizeRow(c, ctrl::kPartButton, s);
    case 3: return BoolStrings(c);
    case 4: return BoolColours(c);
    default: return BadIndex("boolattr", s);
  }
}

TRecord TextOf(const Call& c, int32* part) {
  *part = Part(c, ctrl::kPartText);
  return IsObj(c.heap, *part) && Has(c.heap, *part, 40) ? PartTextRecord(c.heap, *part) : nullptr;
}

int32 TopLine(const Call& c) {
  int32 part = 0;
  const TRecord text = TextOf(c, &part);
  if (!text) return 0;
  int32 line = 0;
  TGetTopLine(text, &line);
  if (c.read) return ReadInt(c, kTDI32, line);
  int32 want = line;
  if (!TakeInt(c, &want) || want == line) return 0;
  if (!TScrollToLine(text, want, 1, false)) return 0;
  OInval(c.heap, part, kInvalAll);
  return kReplyRedraw;
}

int32 Selection(const Call& c, int32 mode) {
  int32 part = 0;
  const TRecord text = TextOf(c, &part);
  AttrPair pair;
  if (!text || !AttrSplitPair(c.td, c.value, mode, &pair)) return 0;
  int32 sel[2] = {0, 0};
  TGetSelection(text, &sel[0], &sel[1]);
  if (c.read) {
    for (int32 k = 0; k < 2; ++k)
      if (pair.td[k]) AttrGetNum(pair.td[k], pair.value[k], kTDI32, &sel[k]);
    return 0;
  }
  int32 next[2] = {sel[0], sel[1]};
  for (int32 k = 0; k < 2; ++k)
    if (pair.td[k]) AttrPutNum(pair.td[k], pair.value[k], kTDI32, &next[k]);
  TSelectText(text, next[0], next[1]);
  int32 after[2] = {0, 0};
  TGetSelection(text, &after[0], &after[1]);
  if (after[0] == sel[0] && after[1] == sel[1]) return 0;
  OInval(c.heap, part, kInvalAll);
  return kReplyRedraw;
}

constexpr uInt32 kModeHex = 0x20000, kModePassword = 0x40000, kModeLow = 0xF, kModeLimitLines = 0x1000;
constexpr uInt32 kPartShowsCodes = 0x1000000, kPartCodesPending = 0x400000;

int32 DisplayMode(const Call& c) {
  int32 part = 0;
  const TRecord text = TextOf(c, &part);
  if (!text) return 0;
  const uInt32 mode = TGetMode(text), flags = Flags(c.heap, part);
  if (c.read) {
    const int32 v = (flags & kPartShowsCodes) ? 1 : (mode & kModeHex) ? 2 : (mode & kModePassword) ? 3 : 0;
    return ReadInt(c, kTDU32, v);
  }
  uInt32 v = 0;
  if (!AttrPutNum(c.td, c.value, kTDU32, &v) || v > 3) return 0;
  uInt32 m = mode, f = flags;
  switch (v) {
    case 0: m = (m & ~(kModeHex | kModePassword) & ~kModeLow) | 4; f &= ~kPartShowsCodes; break;
    case 1: m = (m & ~(kModeHex | kModePassword) & ~kModeLow) | 1; f = (f | kPartShowsCodes) & ~kPartCodesPending; break;
    case 2: m = (((m | kModeHex) & ~kModePassword) & ~kModeLow) | 4; break;
    default: m = (((m | kModePassword) & ~kModeHex) & ~kModeLow) | 4; f &= ~(kPartShowsCodes | kPartCodesPending); break;
  }
  if (m == mode && f == flags) return 0;
  // The text being typed into under the key focus keeps its form.
  if (reinterpret_cast<TRecord>(uintptr_t(ctrl::Ext(c.heap, kHeapExtFocusText))) == text) return 0;
  ctrl::SetFlags(c.heap, part, f);
  TSetMode(text, m, false);
  OInval(c.heap, part, kInvalAll);
  return kReplyRedraw;
}

int32 LimitLines(const Call& c) {
  int32 part = 0;
  const TRecord text = TextOf(c, &part);
  if (!text) return 0;
  const uInt32 mode = TGetMode(text);
  if (c.read) return ReadBool(c, (mode & kModeLimitLines) != 0);
  bool on = false;
  if (!TakeBool(c, &on) || on == ((mode & kModeLimitLines) != 0)) return 0;
  TSetMode(text, mode ^ kModeLimitLines, false);
  OInval(c.heap, part, kInvalAll);
  return kReplyRedraw;
}

int32 TextRows(const Call& c, int32 s, bool string, const char* name) {
  switch (s) {
    case 0: case 1: case 2: return SizeRow(c, ctrl::kPartText, s);
    case 3: return TopLine(c);
    case 4: case 5: case 6: return Selection(c, s - 4);
    default: break;
  }
  if (string && s == 7) return DisplayMode(c);
  if (string && s == 8) return LimitLines(c);
  const int32 colours = string ? 9 : 7;
  if (s >= colours && s < colours + 3) return TextColourRow(c, ctrl::kPartText, s - colours);
  return BadIndex(name, s);
}

// The ring's item texts (part 12), checked to fit their handle.
UHandle RingTextList(const Call& c, int32* part, std::vector<std::string>* texts) {
  *part = Part(c, ctrl::kPartItemText);
  UHandle list = IsObj(c.heap, *part) ? ListOf(c.heap, *part) : nullptr;
  return list && ListStrings(list, texts) ? list : nullptr;
}

int32 RingStrings(const Call& c) {
  int32 part = 0;
  std::vector<std::string> old;
  UHandle list = RingTextList(c, &part, &old);
  if (c.read) return GiveStrings(c, list ? old : std::vector<std::string>{});
  const int32 code = ctrl::TypeCodeOf(c.heap, c.object);
  if (!list || (code >= kTDEnumU8 && code <= kTDEnumU32)) return 0;
  std::vector<std::string> given;
  if (!TakeStrings(c, &given)) return 0;
  auto cp = reinterpret_cast<CPStrHandle>(list);
  bool changed = false;
  if (given.empty()) {
    if (!(old.size() == 1 && old[0].empty())) {
      if (CPStrSetEmpty(cp)) return kAttrReplyMemFull;
      changed = true;
    }
    given.assign(1, std::string());
  } else {
    auto pstr = [](const std::string& s, uChar out[256]) {
      out[0] = uChar(s.size());
      std::memcpy(out + 1, s.data(), s.size());
    };
    uChar p[256];
    for (size_t i = 0; i < given.size(); ++i) {
      if (i < old.size() && old[i] == given[i]) continue;
      pstr(given[i], p);
      if ((i < old.size() ? CPStrReplace(cp, p, int32(i)) : CPStrInsert(cp, p, int32(i))) != kNoErr)
        return kAttrReplyMemFull;
      changed = true;
    }
    for (size_t i = old.size(); i > given.size(); --i) {
      if (CPStrRemove(cp, int32(i - 1)) != kNoErr) return kAttrReplyMemFull;
      changed = true;
    }
  }
  // The item-flag vector follows the item count.
  if (UHandle flags = ObjItemData(c.heap, c.object)) {
    int32 n = int32(GetNative32(*flags));
    const int32 want = int32(given.size());
    for (; n < want; ++n)
      if (RingInsertDeleteItem(c.heap, c.object, n, true) < 0) return kAttrReplyMemFull;
    for (; n > want; --n)
      if (RingInsertDeleteItem(c.heap, c.object, n - 1, false) < 0) return kAttrReplyMemFull;
  }
  if (!changed) return 0;
  RingSyncItemCount(c.heap, c.object);
  ctrl::SetFlags(c.heap, part, Flags(c.heap, part) | kFlagBusy);
  OInval(c.heap, part, kInvalAll);
  return kReplyRedraw;
}

int32 RingDisabled(const Call& c) {
  UHandle flags = ObjItemData(c.heap, c.object);
  ArrayValue a;
  if (!ArrayOf(c, &a) || !IsNumber(a.elem)) return 0;
  const int32 n = flags ? int32(GetNative32(*flags)) : 0;
  if (c.read) {
    std::vector<int32> on;
    for (int32 i = 0; i < n; ++i)
      if (GetNative32(*flags + 4 + 4 * i) & 1) on.push_back(i);
    if (!ResizeArray(&a, int32(on.size()))) return kAttrReplyMemFull;
    for (int32 i = 0; i < a.count; ++i) AttrGetNum(a.elem, ElementAt(a, i), kTDI32, &on[size_t(i)]);
    return 0;
  }
  if (!flags || n <= 0) return 0;
  std::vector<uInt32> bits(static_cast<size_t>(n), 0u);
  for (int32 i = 0; i < n; ++i) bits[size_t(i)] = GetNative32(*flags + 4 + 4 * i) & ~1u;
  for (int32 i = 0; i < a.count; ++i) {
    int32 index = -1;
    AttrPutNum(a.elem, ElementAt(a, i), kTDI32, &index);
    if (index >= 0 && index < n) bits[size_t(index)] |= 1;
  }
  const void* data = reinterpret_cast<const void*>(
      uintptr_t(uInt32(OGetDataPtr(c.heap, c.object, 0, kDataPtrOperate, nullptr))));
  // The item shown: the value (an enumeration's as its number type).
  int32 code = ctrl::TypeCodeOf(c.heap, c.object);
  if (code >= kTDEnumU8 && code <= kTDEnumU32) code = code - kTDEnumU8 + kTDU8;
  const bool number = code >= kTDI8 && code <= kTDCXT;
  const int32 shown = data && number ? std::clamp(ctrl::RingIndexOf(code, data), 0, n - 1) : 0;
  const bool was = GetNative32(*flags + 4 + 4 * shown) & 1;
  for (int32 i = 0; i < n; ++i) PutNative32(*flags + 4 + 4 * i, bits[size_t(i)]);
  if (was == ((bits[size_t(shown)] & 1) != 0)) return 0;
  OInval(c.heap, c.object, kInvalAll);
  return kReplyRedraw;
}

int32 Ring(const Call& c, int32 s) {
  switch (s) {
    case 0: case 1: case 2: return SizeRow(c, 0, s);
    case 3: case 4: case 5: return FormatRow(c, s - 3);
    case 6: case 7: case 8: return TextColourRow(c, ctrl::kPartItemText, s - 6);
    case 9: case 10: case 11: return TextColourRow(c, ctrl::kPartDigitalText, s - 9);
    case 12: return RingStrings(c);
    case 13: return RingDisabled(c);
    default: return BadIndex("ringattr", s);
  }
}

int32 ActiveOf(const Call& c) {
  return Has(c.heap, c.object, 4 * (kPWActiveElement + 1)) ? ObjWord(c.heap, c.object, kPWActiveElement) : 0;
}

int32 Slide(const Call& c, int32 s) {
  if (s >= 0 && s <= 2) return SizeRow(c, 0, s);
  if (s == 3) {
    const int32 active = ActiveOf(c);
    if (c.read) return ReadInt(c, kTDI32, active);
    int32 v = active;
    if (!TakeInt(c, &v) || v == active || v < 0 || v >= SliderCount(c.heap, c.object)) return 0;
    SetActiveIndex(c.heap, c.object, v);
    return kAttrReplyState;
  }
  if (s >= 4 && s <= 6) return PartColourRow(c, kPartNeedle, ActiveOf(c), s - 4);
  if (s >= 7 && s <= 18) {
    const int32 index = s - 7;
    if (c.read) return gScaleHooks.scaleGet ? gScaleHooks.scaleGet(c.heap, c.object, kPartScale, 0, index, c.td, c.value) : 0;
    // A slide whose scale the program fixes takes only the two Booleans.
    if ((Flags(c.heap, c.object) & kSlideFlagFixedScale) && index != 9 && index != 11) return 0;
    const int32 reply =
        gScaleHooks.scaleSet ? gScaleHooks.scaleSet(c.heap, c.object, kPartScale, 0, index, c.td, c.value) : 0;
    if (reply) {
      c.rec->partId = kPartScale;
      c.rec->partOrder = 0;
    }
    return reply;
  }
  return BadIndex("slideattr", s);
}

int32 MoreSlide(const Call& c, int32 s) {
  const int32 active = ActiveOf(c);
  const int32 slider = Part(c, kPartFill, active);
  if (s == 0) {
    if (!IsObj(c.heap, slider)) return 0;
    const int32 style = SliderFillStyle(Flags(c.heap, slider));
    if (c.read) return ReadInt(c, kTDI32, style == 5 ? 0 : style);
    int32 v = -1;
    if (!TakeInt(c, &v) || v < 0 || v > 4) return 0;
    return SetSliderFillStyle(c.heap, c.object, active, v ? v : 5, true);
  }
  if (s == 1) {
    if (!IsObj(c.heap, slider)) return 0;
    const uInt32 back = ctrl::PartBack(c.heap, slider), fore = ctrl::PartFore(c.heap, slider);
    if (c.read) return ReadInt(c, kTDU32, int32(back));
    uInt32 v = 0;
    if (!AttrPutNum(c.td, c.value, kTDU32, &v) || v > kTransparent || (v == fore && v == back)) return 0;
    OColorChange(c.heap, slider, 0, 0, v, v, 0x50300);
    OColorChange(c.heap, c.object, int32(kPartFill), active, v, v, 0x50300);
    c.rec->partId = kPartFill;
    c.rec->partOrder = active;
    return kReplyColours;
  }
  return BadIndex("moreslideattr", s);
}

constexpr int16 kPartRampBody = 41, kPartRampTrack = 69, kPartRampEndLow = 8013, kPartRampEndHigh = 8012,
                kPartRampColours = 68;

int32 Ramp(const Call& c, int32 s) {
  if (s >= 0 && s <= 2) return SizeRow(c, kPartRampBody, s);
  if (s >= 3 && s <= 5) return FormatRow(c, s - 3);
  if (s >= 6 && s <= 8) return TextColourRow(c, ctrl::kPartDigitalText, s - 6);
  if (s == 9 || s == 10) {
    const int32 id = s == 9 ? int32(kPartRampTrack) : int32(ctrl::kPartDigitalText);
    if (c.read) return ReadBool(c, !PartIdAllHidden(c.heap, c.object, id));
    if (s == 10) return SetPartVisibleAttr(c.heap, c.object, id, c.td, c.value);
    int32 reply = 0;
    for (int32 part : {int32(kPartRampTrack), int32(kPartRampEndLow), int32(kPartRampEndHigh), int32(kPartScale)})
      reply |= SetPartVisibleAttr(c.heap, c.object, part, c.td, c.value);
    return reply;
  }
  if (s >= 11 && s <= 26) {
    const int32 index = s - 11;
    if (c.read)
      return gScaleHooks.colorScaleGet ? gScaleHooks.colorScaleGet(c.heap, c.object, kPartScale, 0, index, c.td, c.value)
                                       : 0;
    const int32 reply = gScaleHooks.colorScaleSet
                            ? gScaleHooks.colorScaleSet(c.heap, c.object, kPartScale, 0, index, c.td, c.value,
                                                        int32(c.rec->hidden), int32(c.rec->greyed))
                            : 0;
    if (reply) {
      c.rec->partId = kPartRampColours;
      c.rec->partOrder = 0;
    }
    return reply;
  }
  return BadIndex("sRampattr", s);
}

// ---- Arrays --------------------------------------------------------------------------------

constexpr int16 kPartIndexDisplay = 8002;

// The index vectors of the array's private record: three handles of a count
// and one 32-bit entry per dimension; null where a handle is missing or does
// not hold its count.
bool ArrayVectors(const Call& c, UHandle v[3]) {
  v[0] = v[1] = v[2] = nullptr;
  const int32 at = Has(c.heap, c.object, 4 * (kPWArrayPrivateTD + 1)) ? ObjWord(c.heap, c.object, kPWArrayPrivate) : 0;
  if (at <= 0 || !PanelEntryTD(c.heap, at, ObjWord(c.heap, c.object, kPWArrayPrivateTD), 12)) return false;
  UPtr base = FPHeapDataPtr(c.heap, at);
  if (!base) return false;
  for (int32 k = 0; k < 3; ++k) {
    UHandle h = reinterpret_cast<UHandle>(uintptr_t(GetNative32(base + 4 * k)));
    if (!h || DSCheckHandle(h) != kNoErr || DSGetHandleSize(h) < 4) return false;
    const int32 n = int32(GetNative32(*h));
    if (n < 0 || int64(n) * 4 > DSGetHandleSize(h) - 4) return false;
    v[k] = h;
  }
  return true;
}
int32 VCount(UHandle h) { return int32(GetNative32(*h)); }
int32 VAt(UHandle h, int32 i) { return int32(GetNative32(*h + 4 + 4 * i)); }
void VSet(UHandle h, int32 i, int32 x) { PutNative32(*h + 4 + 4 * i, uInt32(x)); }

int32 ArrayVector(const Call& c, int32 which) {
  UHandle v[3];
  if (!ArrayVectors(c, v)) {
    // A damaged file can leave the array without it: reported, not asserted.
    DBPrintf("arrayattr: the array has no display record");
    return kAttrReplyMemFull;
  }
  ArrayValue a;
  if (!ArrayOf(c, &a) || !IsNumber(a.elem)) return 0;
  const int32 dims = std::min({VCount(v[0]), VCount(v[1]), VCount(v[2])});
  const int32 n = which == 0 ? VCount(v[0]) : dims;
  if (c.read) {
    if (!ResizeArray(&a, n)) return kAttrReplyMemFull;
    for (int32 i = 0; i < n; ++i) {
      const int32 x = which == 0 ? VAt(v[0], i) : which == 1 ? VAt(v[1], i) : VAt(v[2], i) - VAt(v[1], i);
      AttrGetNum(a.elem, ElementAt(a, i), kTDI32, &x);
    }
    return 0;
  }
  bool changed = false;
  for (int32 i = 0; i < std::min(n, a.count); ++i) {
    int32 x = 0;
    AttrPutNum(a.elem, ElementAt(a, i), kTDI32, &x);
    if (x < 0) x = 0;
    if (which == 0) {
      if (VAt(v[0], i) != x) VSet(v[0], i, x), changed = true;
    } else if (which == 1) {
      const int32 d = x - VAt(v[1], i);
      if (d) VSet(v[1], i, x), VSet(v[2], i, VAt(v[2], i) + d), changed = true;
    } else {
      const int32 third = VAt(v[1], i) + x;
      if (VAt(v[2], i) != third) VSet(v[2], i, third), changed = true;
    }
  }
  if (!changed) return 0;
  if (CompareAttrPath(c.heap, static_cast<const TransactionFrame*>(TRStackTop()))) FPReleaseKeyFocus(c.heap);
  OInval(c.heap, c.object, kInvalAll);
  if (const int32 index = Part(c, kPartIndexFrame)) OInval(c.heap, index, kInvalAll);
  return kReplyRedraw;
}

// The grid's rows (which 1) or columns (0): the frame grows by whole cells.
int32 ArrayGrid(const Call& c, int32 which) {
  const int32 at = which ? kArrayGridRowsAt : kArrayGridColsAt;
  if (!Has(c.heap, c.object, kArrayGridRowsAt + 2)) return 0;
  const int32 count = ObjInt16(c.heap, c.object, at) + 1;
  if (c.read) return ReadInt(c, kTDU32, count);
  int32 want = count;
  if (!TakeInt(c, &want)) return 0;
  want = std::clamp(want, kSizeMin, kSizeMax);
  const TypeDescriptor* td = ctrl::DisplayTD(c.heap, c.object);
  const int32 dims = td && td->code == kTDArray ? int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) : 0;
  const bool rowsLaidOut = ObjInt16(c.heap, c.object, kArrayGridColsAt) == 0;
  // A one-dimensional array is laid out in one direction only: along its
  // row when it shows more than one column, else down its column.
  if (dims == 1 && (which == 1) != rowsLaidOut) return 0;
  const int32 element = ctrl::WordOr0(c.heap, c.object, kPWArrayElement);
  const int32 frame = Part(c, kPartFrame);
  if (!IsObj(c.heap, element) || !IsObj(c.heap, frame) || want == count) return 0;
  const Rect cellRect = ctrl::BoundsOf(c.heap, element);
  const int32 wide = (Flags(c.heap, c.object) & kArrayFlagWideCells) ? 2 : 0;
  const int32 cell = (which ? cellRect.bottom - cellRect.top : cellRect.right - cellRect.left) + wide;
  if (cell <= 0) return 0;
  Rect r = ctrl::BoundsOf(c.heap, frame);
  const int32 start = which ? r.bottom : r.right;
  const int32 room = (16000 - start) / cell;
  want = std::min(want, count + room);
  const int32 by = (want - count) * cell;
  if (!by) return 0;
  if (CompareAttrPath(c.heap, static_cast<const TransactionFrame*>(TRStackTop()))) FPReleaseKeyFocus(c.heap);
  PutNative16(*c.heap + c.object + at, uInt16(want - 1));
  // A scroll position past the new count starts again at the first cell.
  const int32 shownAt = which ? 4 * kPWArrayShown + 2 : 4 * kPWArrayShown;
  if (Has(c.heap, c.object, 4 * kPWArrayShown + 4)) {
    const int32 shown = ObjInt16(c.heap, c.object, shownAt);
    if (shown >= want) {
      const Point back = which ? Point{int16(-shown * cell), 0} : Point{0, int16(-shown * cell)};
      OOffset(c.heap, element, back);
      PutNative16(*c.heap + c.object + shownAt, 0);
    }
  }
  if (which) r.bottom = int16(r.bottom + by);
  else r.right = int16(r.right + by);
  OInval(c.heap, c.object, kInvalAll);
  OSize(c.heap, frame, &r, 0);
  c.rec->partId = kPartFrame;
  c.rec->partOrder = 0;
  OInval(c.heap, c.object, kInvalAll);
  return kReplyGeometry;
}

int32 Array(const Call& c, int32 s) {
  switch (s) {
    case 0: return ArrayGrid(c, 1);
    case 1: return ArrayGrid(c, 0);
    case 2: {
      if (c.read) return ReadBool(c, !PartIdAllHidden(c.heap, c.object, kPartIndexFrame));
      const int32 reply = SetPartVisibleAttr(c.heap, c.object, kPartIndexFrame, c.td, c.value);
      return reply | (reply ? SetPartVisibleAttr(c.heap, c.object, kPartIndexDisplay, c.td, c.value) : 0);
    }
    case 3: case 4: case 5: return ArrayVector(c, s - 3);
    default: return BadIndex("arrayattr", s);
  }
}

// ---- Pictures --------------------------------------------------------------------------------

// The mouse cluster: while the picture (or its drawing area) is the tracked
// object, the mouse in the panel's window relative to the drawing area's
// top-left corner and four bits of the tracking state (0x40, 0x02, 0x20,
// 0x01); otherwise (-1, -1) and false.
struct Mouse {
  int32 x = -1, y = -1;
  bool bits[4] = {false, false, false, false};
};
Mouse MouseOf(const Call& c) {
  Mouse m;
  ObjHeap heap = nullptr;
  int32 object = 0;
  SetTrackObject(nullptr, 0, &heap, &object, false);
  const int32 area = Part(c, ctrl::kPartContent);
  const WindowRef window = WindowRef(ctrl::Ext(c.heap, kHeapExtWindow));
  if (heap != c.heap || !window || !IsObj(c.heap, area) || (object != c.object && object != area)) return m;
  int32 state = 0;
  TrackState(0, &state, false);
  Point at{0, 0};
  WGetGlobalMouse(&at);
  WGlobalToLocal(window, &at);
  const Rect r = ctrl::BoundsOf(c.heap, area);
  m.x = int32(at.h) - r.left;
  m.y = int32(at.v) - r.top;
  const int32 bits[4] = {0x40, 0x02, 0x20, 0x01};
  for (int32 k = 0; k < 4; ++k) m.bits[k] = (state & bits[k]) != 0;
  return m;
}

int32 PictureMouse(const Call& c, int32 s) {
  if (!c.read) return 0;
  const Mouse m = MouseOf(c);
  // The selector reads its own element of the cluster: the whole, the point,
  // one coordinate, the four flags or one of them.
  const auto point = [&](const TypeDescriptor* td, void* v) {
    AttrPair p;
    if (!AttrSplitPair(td, v, 0, &p)) return;
    AttrGetNum(p.td[0], p.value[0], kTDI32, &m.x);
    AttrGetNum(p.td[1], p.value[1], kTDI32, &m.y);
  };
  const auto flags = [&](const TypeDescriptor* td, void* v) {
    if (!td || td->code != kTDCluster || int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) < 4) return;
    int32 at = int32(uintptr_t(v));
    for (int32 k = 0; k < 4; ++k) {
      const TypeDescriptor* e = SkipTypedefs(ElemTD(td, k));
      at = AlignDatum(e, at);
      AttrPutBool(e, reinterpret_cast<void*>(uintptr_t(uInt32(at))), m.bits[k]);
      at += DataSize(e);
    }
  };
  switch (s) {
    case 0: {
      AttrPair p;
      if (AttrSplitPair(c.td, c.value, 0, &p)) {
        point(p.td[0], p.value[0]);
        flags(p.td[1], p.value[1]);
      }
      return 0;
    }
    case 1: point(c.td, c.value); return 0;
    case 2: return ReadInt(c, kTDI32, m.x);
    case 3: return ReadInt(c, kTDI32, m.y);
    case 4: flags(c.td, c.value); return 0;
    default: return ReadBool(c, m.bits[s - 5]);
  }
}

int32 Picture(const Call& c, int32 s) {
  if (s >= 0 && s <= 2) return SizeRow(c, ctrl::kPartContent, s);
  if (s == 3) {
    const uInt32 flags = Flags(c.heap, c.object);
    if (c.read) return ReadInt(c, kTDI32, (flags & kPictureFlagKeep) ? 2 : 0);
    int32 v = -1;
    if (!TakeInt(c, &v)) return 0;
    if (v == 1) {
      UHandle h = nullptr;
      const int32 at = OGetDataPtr(c.heap, c.object, 0, kDataPtrOperate, &h);
      if (h && at > 0 && at <= DSGetHandleSize(h) - 4) {
        UHandle pict = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*h + at)));
        if (pict && DSCheckHandle(pict) == kNoErr && DSSetHandleSize(pict, 4) == kNoErr) PutNative32(*pict, 0);
      }
    } else if (v == 0 || v == 2) {
      const uInt32 next = v ? flags | kPictureFlagKeep : flags & ~kPictureFlagKeep;
      if (next == flags) return 0;
      ctrl::SetFlags(c.heap, c.object, next);
    } else {
      return 0;
    }
    objsize::ReleaseCachedImage(c.heap, c.object, ctrl::kPictureCopyWord, 0);
    OInval(c.heap, c.object, kInvalAll);
    return kReplyRedraw;
  }
  if (s >= 4 && s <= 12) return PictureMouse(c, s - 4);
  return BadIndex("pictattr", s);
}

// ---- Entry ---------------------------------------------------------------------------------

template <int32 (*F)(const Call&, int32)>
int32 Entry(ObjHeap heap, int32 object, AttrCallRec* rec) {
  if (!rec || !IsObj(heap, object)) return 0;
  Call c{heap, object, rec, AttrValueTD(rec), rec->value, rec->read != 0};
  return F(c, rec->selector);
}
int32 StringRows(const Call& c, int32 s) { return TextRows(c, s, true, "stringattr"); }
int32 PathTagRows(const Call& c, int32 s) { return TextRows(c, s, false, "pathTagAttr"); }

struct Table {
  int32 number;
  AttrProc proc;
  Bytes td;
};
std::vector<Table>& Tables() {
  static std::vector<Table> t;
  return t;
}

}  // namespace

// ---- The property procedures ----------------------------------------------------------------

int32 snumattr(ObjHeap heap, int32 object, AttrCallRec* rec) { return Entry<Numeric>(heap, object, rec); }
int32 colorNum(ObjHeap heap, int32 object, AttrCallRec* rec) { return Entry<ColorBox>(heap, object, rec); }
int32 boolattr(ObjHeap heap, int32 object, AttrCallRec* rec) { return Entry<Boolean>(heap, object, rec); }
int32 stringattr(ObjHeap heap, int32 object, AttrCallRec* rec) { return Entry<StringRows>(heap, object, rec); }
int32 pathTagAttr(ObjHeap heap, int32 object, AttrCallRec* rec) { return Entry<PathTagRows>(heap, object, rec); }
int32 ringattr(ObjHeap heap, int32 object, AttrCallRec* rec) { return Entry<Ring>(heap, object, rec); }
int32 slideattr(ObjHeap heap, int32 object, AttrCallRec* rec) { return Entry<Slide>(heap, object, rec); }
int32 moreslideattr(ObjHeap heap, int32 object, AttrCallRec* rec) { return Entry<MoreSlide>(heap, object, rec); }
int32 sRampattr(ObjHeap heap, int32 object, AttrCallRec* rec) { return Entry<Ramp>(heap, object, rec); }
int32 arrayattr(ObjHeap heap, int32 object, AttrCallRec* rec) { return Entry<Array>(heap, object, rec); }
int32 pictattr(ObjHeap heap, int32 object, AttrCallRec* rec) { return Entry<Picture>(heap, object, rec); }

// ---- Shared helpers ------------------------------------------------------------------------

int32 SliderFillStyle(uInt32 flags) {
  if (flags & 8) return 5;
  switch (flags & 0xC00000) {
    case 0: return 1;
    case 0x400000: return 2;
    case 0x800000: return 3;
    default: return 4;
  }
}

int32 SetSliderFillStyle(ObjHeap heap, int32 slide, int32 order, int32 style, Bool32 fromProperty) {
  const int32 slider = IsObj(heap, slide) ? FindPart(heap, slide, kPartFill, order) : 0;
  if (!IsObj(heap, slider) || style < 1 || style > 5) return 0;
  const uInt32 flags = Flags(heap, slider);
  const int32 old = SliderFillStyle(flags);
  if (old == style) return 0;
  static const uInt32 kBits[6] = {0, 0, 0x400000, 0x800000, 0xC00000, 8};
  ctrl::SetFlags(heap, slider, (flags & ~0xC00008u) | kBits[style]);
  // The housing and the slider are recoloured with their own colours so
  // that their drawings follow the new style.
  if (const int32 housing = FindPart(heap, slide, kPartHousing, 0); IsObj(heap, housing))
    OColorChange(heap, housing, 0, 0, ctrl::PartFore(heap, housing), ctrl::PartBack(heap, housing), 0x50300);
  OColorChange(heap, slider, 0, 0, ctrl::PartFore(heap, slider), ctrl::PartBack(heap, slider), 0x50300);
  if (old == 5) OInval(heap, slider, kInvalAll);
  Rect left{0, 0, 0, 0}, entered{0, 0, 0, 0};
  const void* data =
      reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(heap, slide, 0, kDataPtrOperate, nullptr))));
  if (ObjMapDataToScale(heap, slide, FindPart(heap, slide, kPartScale, 0), &left, &entered, data)) {
    InvalPanelRect(heap, &left);
    InvalPanelRect(heap, &entered);
  } else if (style == 5) {
    OInval(heap, slider, kInvalAll);
  }
  if (!fromProperty) VIDocMod(nullptr, reinterpret_cast<UHandle>(heap), 0x80000800);
  return kAttrReplyState;
}

void SetScaleAttrHooks(const ScaleAttrHooks* hooks) { gScaleHooks = hooks ? *hooks : ScaleAttrHooks{}; }
bool ScaleAttrHooksFilled() {
  return gScaleHooks.scaleGet && gScaleHooks.scaleSet && gScaleHooks.colorScaleGet && gScaleHooks.colorScaleSet;
}

void PanelInstallAttrTables() {
  std::vector<Table>& t = Tables();
  if (t.empty()) {
    t.push_back({4, &snumattr, Clu({U32(), FormatPair(), ColourPair()})});
    t.push_back({49, &colorNum, Clu({SizePair()})});
    t.push_back({1, &boolattr, Clu({SizePair(), Arr(Str()), Arr(ColourPair())})});
    t.push_back({2, &stringattr,
                 Clu({SizePair(), I32(), Clu({I32(), I32()}), U32(), Bool(), ColourPair()})});
    t.push_back({3, &pathTagAttr, Clu({SizePair(), I32(), Clu({I32(), I32()}), ColourPair()})});
    t.push_back({5, &ringattr, Clu({SizePair(), FormatPair(), ColourPair(), ColourPair(), Arr(Str()), Arr(I32())})});
    t.push_back({6, &slideattr, Clu({SizePair(), I32(), Clu({I32(), I32()}), ScaleCluster()})});
    t.push_back({19, &moreslideattr, Clu({I32(), U32()})});
    t.push_back({15, &sRampattr,
                 Clu({SizePair(), FormatPair(), ColourPair(), Bool(), Bool(),
                      Clu({Bool(), U32(), U32(), Arr(Clu({Dbl(), U32()})), U8(), Clu({U8(), U8()}),
                           Clu({Dbl(), Dbl(), Dbl()}), Bool(), U8(), Bool()})})});
    t.push_back({8, &arrayattr, Clu({U32(), U32(), Bool(), Arr(U32()), Arr(U32()), Arr(U32())})});
    t.push_back({29, &pictattr,
                 Clu({SizePair(), U8(), Clu({Clu({I32(), I32()}), Clu({Bool(), Bool(), Bool(), Bool()})})})});
    t.push_back({kRingFlagArrayTable, nullptr, Arr(U32())});
  }
  for (const Table& e : t) SetAttrTable(e.number, reinterpret_cast<const TypeDescriptor*>(e.td.data()), e.proc);
}

bool AttrResizeArray(UHandle* cell, const TypeDescriptor* elem, int32 size, int32 count, int32 n) {
  UHandle h = *cell;
  if (h && elem->code == kTDString)
    for (int32 i = n; i < count; ++i) {
      UHandle s;
      std::memcpy(&s, *h + 4 + size * i, sizeof s);
      if (s && DSCheckHandle(s) == kNoErr) DSDisposeHandle(s);
    }
  const int32 bytes = 4 + size * n;
  if (!h) {
    if (!(h = DSNewHClr(bytes))) return false;
    *cell = h;
  } else if (DSSetHandleSize(h, bytes) != kNoErr) {
    return false;
  }
  if (n > count) std::memset(*h + 4 + size * count, 0, size_t(size * (n - count)));
  PutNative32(*h, uInt32(n));
  return true;
}
