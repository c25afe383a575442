// Editing of unit labels: the text the operator typed is checked against the
// data's dimensions and applied to the object's display factor and offset.
// Everything here runs on the user-interface thread; every parse goes into a
// record of the call's own, so conversions on execution threads never see a
// label being edited.
#include <atomic>
#include <cstring>

#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/hookset.h"
#include "mgsource/memory.h"
#include "mgsource/walert.h"
#include "mgsource/window/textrec.h"
#include "rtlib/objunits.h"
#include "rtlib/objunits_internal.h"

namespace {

// The owning VI's flag under which a misfitting label is reported rather
// than reset.
constexpr uInt32 kVIFlagKeepUnitLabels = 0x80000;
// The label part's flag bit cleared when the label is reset.
constexpr uInt32 kLabelFlagBit3 = 0x8;
constexpr int32 kApplied = 0x10000;

std::atomic<int32> gBeeps{0};

void NoInval(ObjHeap, int32, int32) {}
int32 NoSetText(ObjHeap, int32, const uChar*, int32, int32, int32) { return 0; }
LStrHandle TextWord(ObjHeap heap, int32 part) {
  TRecord r = TCheckedRecord(uInt32(UnitObjWord(heap, part, kPWLabelText)));
  return r ? reinterpret_cast<LStrHandle>(TGetText(r)) : nullptr;
}
UPtr NoDisplayData(ObjHeap, int32) { return nullptr; }

UnitLabelHooks gHooks{NoInval, NoSetText, WBeep, TextWord, NoDisplayData};

// The label text cached when an edit began: an application-zone copy and
// the label part's id and order.
struct LabelCache {
  UHandle text;
  int16 id, order;
};
LabelCache gCache{nullptr, 0, 0};

// Parses [begin, end) without operators into rec; the parser's result, and
// the place where it stopped in *stop.
int16 ParseCounted(const uChar* begin, const uChar* end, ParsedUnit* rec, const uChar** stop) {
  std::memset(rec, 0, sizeof *rec);
  rec->scale = 1.0;
  const uChar* cursor = begin;
  int16 err = UnitsInit() == kNoErr ? ParseUnitExprCounted(&cursor, end, rec, false) : int16(kUnitEndErr);
  if (stop) *stop = cursor;
  return err;
}

// The offset and scale of a counted text handle; false (both 0) when it
// does not parse or its count does not fit its handle.
bool ParseHandle(UHandle text, float64* offset, float64* scale) {
  *offset = *scale = 0;
  static const uChar kEmpty[1] = {0};
  const uChar* begin = kEmpty;
  const uChar* end = kEmpty;
  if (text && *text) {
    int32 size = AZCheckHandle(text) == kNoErr   ? AZGetHandleSize(text)
                 : DSCheckHandle(text) == kNoErr ? DSGetHandleSize(text)
                                                 : -1;
    if (size < 4) return false;
    int32 n = int32(GetNative32(*text));
    if (n < 0 || n > size - 4) return false;
    begin = *text + 4;
    end = begin + n;
  }
  ParsedUnit rec;
  if (ParseCounted(begin, end, &rec, nullptr) != kUnitOK) return false;
  *offset = rec.offset;
  *scale = rec.scale;
  return true;
}

uInt32 VIFlagsOf(ObjHeap heap) {
  UHandle vi = PanelHeapOwner(heap);
  return vi && *vi ? VIRec(vi)->flags : 0;
}

}  // namespace

UnitLabelHooks SetUnitLabelHooks(const UnitLabelHooks& hooks) {
  return SetGivenHooks(&gHooks, hooks,
                       &UnitLabelHooks::inval, &UnitLabelHooks::setPartText, &UnitLabelHooks::beep,
                       &UnitLabelHooks::getText, &UnitLabelHooks::displayData);
}

int32 UnitLabelBeeps() { return gBeeps.load(std::memory_order_relaxed); }

int32 ParseUnitText(const void* object, int32, int32, float64* offset, float64* scale, int32, LStrHandle text) {
  if (object) DBAssert(__FILE__, __LINE__, "ParseUnitText: an object was given");
  float64 o, s;
  ParseHandle(reinterpret_cast<UHandle>(text), &o, &s);
  if (offset) *offset = o;
  if (scale) *scale = s;
  return 0;
}

void ClearUnitLabelCache() {
  if (gCache.text) AZDisposeHandle(gCache.text);
  gCache = LabelCache{nullptr, 0, 0};
}

void GetCachedUnitLabel(ObjHeap heap, int32 part) {
  ClearUnitLabelCache();
  if (!heap || !*heap || !part) return;
  LStrHandle text = gHooks.getText(heap, part);
  if (!text || !*text || (*text)->cnt < 1) return;
  // The text lives in the data zone; its copy is made in the application zone.
  int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(text));
  int32 n = (*text)->cnt;
  if (n > size - 4) return;
  UHandle copy = nullptr;
  if (AZPtrToHand(*text, &copy, 4 + n) != kNoErr || !copy) return;
  gCache = LabelCache{copy, UnitPartId(heap, part), UnitPartOrder(heap, part)};
}

int32 ApplyUnitLabelText(ObjHeap heap, int32 object) {
  if (!heap || !*heap || !object) return 0;
  const TypeDescriptor* td = UnitValueTD(heap, object);
  if (!td) return 0;
  if (td->code < 1 || td->code > 30) {
    DBAssert(__FILE__, __LINE__, "ApplyUnitLabelText: data that is no number");
    return 0;
  }
  int32 label = UnitLabelPart(heap, object);
  if (!label) {
    DBAssert(__FILE__, __LINE__, "ApplyUnitLabelText: no unit label");
    return 0;
  }
  const uChar* begin;
  const uChar* end;
  Str255 spare;
  if (!UnitLabelText(heap, label, &begin, &end, spare)) return 0;

  // The text without its "?" marks (at most 255 characters by now).
  uChar clean[kUnitMaxLabelText + 1];
  int32 n = 0, marks = 0;
  for (const uChar* p = begin; p < end && n < kUnitMaxLabelText; ++p)
    if (*p == '?') ++marks;
    else clean[n++] = *p;

  int32 flags = 0;
  ParsedUnit rec;
  const uChar* stop = clean;
  bool parsed = ParseCounted(clean, clean + n, &rec, &stop) == kUnitOK;
  bool marked = false;
  if (!parsed) {
    gBeeps.fetch_add(1, std::memory_order_relaxed);
    gHooks.beep();
    if (n < kUnitMaxLabelText) {
      // The text with "?" where parsing stopped.
      uChar text[kUnitMaxLabelText + 1];
      int32 at = stop >= clean && stop <= clean + n ? int32(stop - clean) : n;
      std::memcpy(text, clean, size_t(at));
      text[at] = '?';
      std::memcpy(text + at + 1, clean + at, size_t(n - at));
      flags |= gHooks.setPartText(heap, label, text, n + 1, 0, 0);
      marked = true;
    }
    // The invalid unit: one past the last base unit, which no data has.
    rec.count = 1;
    rec.pairs[0] = UnitPair{int16(kBaseUnitCount), 1};
  } else if (marks) {
    flags |= gHooks.setPartText(heap, label, clean, n, 0, 0);
  }

  bool hasUnit = td->code >= kTDUnitSGL && td->code <= kTDUnitCXT;
  bool fits = hasUnit ? rec.count != 0 && UnitDimsEqual(td, &rec) : rec.count == 0;
  if (!fits) {
    if (VIFlagsOf(heap) & kVIFlagKeepUnitLabels) {
      DBAssert(__FILE__, __LINE__, "ApplyUnitLabelText: the label does not fit the data");
      return 0;
    }
    // A marked text stays for the operator to mend; any other misfit is
    // replaced by the data's own unit.
    if (!marked) {
      char text[512];
      int32 len = 0;
      if (hasUnit && td->size >= 6) {
        const int16* dims = reinterpret_cast<const int16*>(reinterpret_cast<const uChar*>(td) + 4);
        if (dims[0] >= 0 && dims[0] <= kBaseUnitCount && td->size >= 6 + 4 * dims[0])
          len = UnitRecToText(dims, text);
      }
      if (len < 0 || len > kUnitMaxLabelText) len = 0;
      gHooks.setPartText(heap, label, reinterpret_cast<const uChar*>(text), len, 0, 0);
    }
    OHSetWord(heap, uInt32(label), OHWord(heap, uInt32(label)) & ~kLabelFlagBit3);
    return 0;
  }

  int32 display = UnitPartOf(heap, object, kUnitDisplayPartId, -1);
  UPtr data = display ? gHooks.displayData(heap, display) : nullptr;
  if (!data) return kApplied | flags;
  float64 factor, offset;
  std::memcpy(&factor, data + 8 * kUnitDisplayFactorDouble, 8);
  std::memcpy(&offset, data + 8 * (kUnitDisplayFactorDouble + 1), 8);
  if (rec.scale != 0) {
    factor /= rec.scale;
    offset -= rec.offset;
  } else {
    factor = 1;
    offset = 0;
  }
  float64 o0, s0;
  if (gCache.text && gCache.id == UnitPartId(heap, label) && gCache.order == UnitPartOrder(heap, label) &&
      ParseHandle(gCache.text, &o0, &s0) && s0 != 0) {
    factor *= s0;
    offset += o0;
  }
  std::memcpy(data + 8 * kUnitDisplayFactorDouble, &factor, 8);
  std::memcpy(data + 8 * (kUnitDisplayFactorDouble + 1), &offset, 8);
  gHooks.inval(heap, object, 0);
  return kApplied | flags;
}
